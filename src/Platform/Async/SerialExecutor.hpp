#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/Async/Clock.hpp"

namespace larkspin {

// Jobs run one at a time, in the order they were submitted: the program's
// stand-in for an actor or a serial dispatch queue. An executor owns no
// thread: its jobs run on the process's WorkerPool, so a queue per open
// document costs nothing while idle. Jobs must not touch main-thread state;
// they hand results back with MainThread::post (or are awaited with runOn
// from a main-thread task).
class SerialExecutor {
public:
    using Job = std::move_only_function<void()>;

    // `label` names the queue in logs. The clock times submitAfter().
    explicit SerialExecutor(std::string label, Clock& clock = Clock::system());
    // Stops accepting jobs; every job already queued still runs (a queued file
    // write is never dropped). Off the main thread this waits until they have
    // (a BlockingWait). On the main thread, and from one of its own jobs, it
    // returns at once and the queue finishes on the pool: closing a document
    // must not wait for a slow disk. At quit, finishAll() waits for them.
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    // Queues `job`. Safe from any thread, the executor's own jobs included.
    // Returns false (and logs) when the executor is shutting down: the job is
    // then destroyed without running. A job that throws is logged and the
    // queue goes on.
    bool submit(Job job);

    // Queues `job` once `delay` has passed on the executor's clock; the handle
    // cancels it until it is queued. A job falling due after shutdown began is
    // dropped like a late submit().
    TimerHandle submitAfter(Clock::Duration delay, Job job);

    // True while one of this executor's jobs runs on the calling thread.
    bool isCurrent() const;
    const std::string& label() const;
    Clock& clock() const { return clock_; }

    // At quit (after MainThread::beginQuitting()): blocks until every job
    // queued on any executor has run, jobs they queue included. Delayed jobs
    // that have not fallen due are not waited for.
    static void finishAll();

private:
    struct State;

    std::shared_ptr<State> state_;
    Clock& clock_;
};

}  // namespace larkspin
