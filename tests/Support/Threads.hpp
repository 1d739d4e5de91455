#pragma once

#include <chrono>
#include <functional>
#include <future>

namespace larkspin::test {

// How long a test waits for another thread before it calls the wait failed.
inline constexpr std::chrono::seconds waitLimit{10};

// True once `future` is ready, waiting at most `limit`.
template <typename T>
bool isReady(std::future<T>& future, std::chrono::milliseconds limit = waitLimit) {
    return future.wait_for(limit) == std::future_status::ready;
}

// Runs `work` on a thread of its own (not the main thread) and returns when
// it has ended. A thread still running after `limit` aborts the test program:
// it may be using the caller's locals, and a bug must end the run, not hang it.
void runOffMainThread(std::function<void()> work, std::chrono::milliseconds limit = waitLimit);

}  // namespace larkspin::test
