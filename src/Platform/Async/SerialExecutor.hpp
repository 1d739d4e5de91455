#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/Async/Clock.hpp"

namespace larkspin {

// One worker thread running jobs one at a time, in the order they were
// submitted: the program's stand-in for an actor or a serial dispatch queue.
// Jobs must not touch main-thread state; they hand results back with
// MainThread::post (or are awaited with runOn from a main-thread task).
class SerialExecutor {
public:
    using Job = std::move_only_function<void()>;

    // `label` names the queue in logs (and, shortened, the thread). The clock
    // times submitAfter().
    explicit SerialExecutor(std::string label, Clock& clock = Clock::system());
    // Stops accepting jobs, runs every job already queued (a queued file write
    // is never dropped) and joins the worker. When the last owner lets go from
    // a job on this very executor, the worker finishes the queue on its own.
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    // Queues `job`. Safe from any thread, the worker included. Returns false
    // (and logs) when the executor is shutting down: the job is then destroyed
    // without running. A job that throws is logged and the worker goes on.
    bool submit(Job job);

    // Queues `job` once `delay` has passed on the executor's clock; the handle
    // cancels it until it is queued. A job falling due after shutdown began is
    // dropped like a late submit().
    TimerHandle submitAfter(Clock::Duration delay, Job job);

    // True on this executor's worker thread.
    bool isCurrent() const;
    const std::string& label() const;
    Clock& clock() const { return clock_; }

private:
    struct State;

    std::shared_ptr<State> state_;
    Clock& clock_;
};

}  // namespace larkspin
