#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include "Platform/Async/Task.hpp"

namespace larkspin::test {

// Turns the default main context until `done()` holds. Each turn waits for at
// most a few milliseconds when nothing is ready (work may be on its way from
// another thread). Returns false when `maxTurns` turns were not enough, so that
// a bug fails the test instead of hanging it.
bool runMainLoopUntil(const std::function<bool()>& done, int maxTurns = 2000);

// What a task started with startTask() ended with.
template <typename T>
struct TaskOutcome {
    bool finished = false;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;
};

namespace detail {
template <typename T>
Task<void> recordOutcome(Task<T> task, std::shared_ptr<TaskOutcome<T>> outcome) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->value.emplace(true);
        } else {
            outcome->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->finished = true;
}
}  // namespace detail

// Spawns `task` (it starts on the next turn of the main loop) and returns where
// its result will be; for tests that move a ManualClock while the task waits.
template <typename T>
std::shared_ptr<TaskOutcome<T>> startTask(Task<T> task) {
    auto outcome = std::make_shared<TaskOutcome<T>>();
    spawn(detail::recordOutcome(std::move(task), outcome));
    return outcome;
}

// Runs `task` as a top-level task until it ends and returns its value or
// rethrows its error; throws std::runtime_error when it does not end within
// `maxTurns` turns of the main loop.
template <typename T>
T runTask(Task<T> task, int maxTurns = 2000) {
    auto outcome = startTask(std::move(task));
    if (!runMainLoopUntil([&] { return outcome->finished; }, maxTurns)) {
        throw std::runtime_error("task did not finish");
    }
    if (outcome->error) std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>) return std::move(*outcome->value);
}

}  // namespace larkspin::test
