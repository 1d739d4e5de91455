#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Async/Task.hpp"

namespace larkspin {

// Where the URL scheme handlers read files: worker threads off the main
// thread. Jobs must not touch main-thread state; they are awaited from a
// main-thread task with runOn(workers, fn).
class ResourceWorkers {
public:
    using Job = std::move_only_function<void()>;

    virtual ~ResourceWorkers() = default;
    // Queues `job`; false when the workers are shutting down (the job is then
    // destroyed without running).
    virtual bool submit(Job job) = 0;
};

// A FIFO of jobs run on the process's WorkerPool, at most `limit` of them at
// the same time; the rest wait in the order they came. Owns no thread. Jobs
// already queued still run after the object is destroyed. The application's
// services make the program's two: the renderer's own files one at a time,
// and document images at most two at a time, so that a page full of large
// images never holds more than a couple of them in memory at once, nor more
// than two of the pool's threads while a slow disk answers.
class PooledResourceWorkers final : public ResourceWorkers {
public:
    PooledResourceWorkers(std::string label, std::size_t limit);
    PooledResourceWorkers(const PooledResourceWorkers&) = delete;
    PooledResourceWorkers& operator=(const PooledResourceWorkers&) = delete;

    // Always queues (true).
    bool submit(Job job) override;
    std::size_t limit() const;

private:
    struct State;
    static void runNext(std::shared_ptr<State> state, Job job);

    std::shared_ptr<State> state_;
};

}  // namespace larkspin
