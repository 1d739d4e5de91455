#pragma once

// Blocking waits, all in one place.
//
// A thread blocks for work done on another thread only through BlockingWait
// (directly, or through runAndWait). Never on the main thread: a wait there
// freezes every window for as long as the slowest disk takes (a network
// mount, a drive spinning up). The main thread may wait only once quitting
// has begun (MainThread::beginQuitting), when queued saves must reach the disk
// before the process ends; debug builds abort on any other main-thread wait.
// Main-thread code awaits instead (runOn from a Task).

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include "Platform/Async/Task.hpp"

namespace larkspin {

// One-shot: wait() returns once signal() was called, before or after.
class BlockingWait {
public:
    // Ends the wait. Thread-safe; later calls do nothing.
    void signal();
    bool isSignalled() const;

    // Blocks until signal(). Not on the main thread unless quitting (see above).
    // A pool thread lends its place in the pool while it waits.
    void wait();

    // For tests only: blocks for at most `limit`, also on the main thread.
    // False when the limit passed first.
    bool waitForTesting(std::chrono::milliseconds limit);

private:
    mutable std::mutex mutex_;
    std::condition_variable signalled_;
    bool isSignalled_ = false;
};

namespace detail {

// Holds the result slot of one runAndWait; signals when the job ends, ran or not.
template <typename R>
struct WaitSlot {
    struct Nothing {};
    BlockingWait done;
    std::optional<std::conditional_t<std::is_void_v<R>, Nothing, R>> value;
    std::exception_ptr error;
};

template <typename R>
class WaitSignal {
public:
    explicit WaitSignal(std::shared_ptr<WaitSlot<R>> slot) : slot_(std::move(slot)) {}
    WaitSignal(WaitSignal&& other) noexcept = default;
    WaitSignal& operator=(WaitSignal&&) = delete;
    ~WaitSignal() {
        if (slot_) slot_->done.signal();
    }
    WaitSlot<R>& slot() const { return *slot_; }

private:
    std::shared_ptr<WaitSlot<R>> slot_;
};

}  // namespace detail

// Runs `fn` on `executor` and blocks the calling thread until it has run;
// returns its result or rethrows what it threw. Throws BrokenPromise when the
// executor refused the job or dropped it unrun. On the executor's own thread
// `fn` runs at once. The main-thread rule of BlockingWait applies.
template <typename Executor, typename Fn>
requires std::invocable<Fn&> &&
         requires(Executor& e, std::move_only_function<void()> job) { e.submit(std::move(job)); }
std::invoke_result_t<Fn&> runAndWait(Executor& executor, Fn fn) {
    using R = std::invoke_result_t<Fn&>;
    if constexpr (requires { executor.isCurrent(); }) {
        if (executor.isCurrent()) return fn();
    }
    auto slot = std::make_shared<detail::WaitSlot<R>>();
    auto job = [fn = std::move(fn), signal = detail::WaitSignal<R>(slot)]() mutable {
        try {
            if constexpr (std::is_void_v<R>) {
                fn();
                signal.slot().value.emplace();
            } else {
                signal.slot().value.emplace(fn());
            }
        } catch (...) {
            signal.slot().error = std::current_exception();
        }
        signal.slot().done.signal();
    };
    if (!executor.submit(std::move(job))) throw BrokenPromise();
    slot->done.wait();
    if (slot->error) std::rethrow_exception(slot->error);
    if (!slot->value) throw BrokenPromise();
    if constexpr (!std::is_void_v<R>) return std::move(*slot->value);
}

// For tests only: blocks until everything queued on `executor` so far has
// run, for at most `limit` (also on the main thread). False when it ran out.
template <typename Executor>
bool drainForTesting(Executor& executor,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto done = std::make_shared<BlockingWait>();
    if (!executor.submit([done] { done->signal(); })) return false;
    return done->waitForTesting(limit);
}

}  // namespace larkspin
