#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace larkspin {

class BlockingWait;

// The threads that run every SerialExecutor's jobs: a few threads for the
// whole process, started when work first needs them and then kept. Executors
// keep their own order; the pool only lends them threads, so an open document
// costs queues, not threads.
//
// At most `maxThreads` run jobs at once. A pool thread that blocks in a
// BlockingWait does not count meanwhile (another may start in its place), so
// a job waiting for another job never starves the pool. A job that blocks in
// a system call (a read from a hung network mount) does count: such jobs can
// hold up the others, never the main thread.
class WorkerPool {
public:
    using Job = std::move_only_function<void()>;

    static constexpr std::size_t maxThreads = 4;

    // The process's pool. Never destroyed: jobs may still run while the
    // process exits.
    static WorkerPool& shared();

    // Runs `job` on a pool thread as soon as one is free. Safe from any thread.
    // A job that throws is logged (fault) and the thread goes on.
    void post(Job job);
    // The same, in the form runOn() takes: `co_await runOn(WorkerPool::shared(),
    // fn)` runs `fn` on the shared workers. Always accepts.
    bool submit(Job job) {
        post(std::move(job));
        return true;
    }

    // True on a thread of the pool.
    static bool isPoolThread();

    // Blocks until no job is queued or running, jobs posted meanwhile
    // included. Not from a pool thread (it would wait for itself).
    void waitUntilIdle();

    // A pool thread is about to block in a BlockingWait, or has stopped.
    void willBlock();
    void didUnblock();

private:
    WorkerPool();
    void startThreadLocked();
    void run();
    void forkedChild();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::size_t threads_ = 0;
    std::size_t idle_ = 0;     // threads waiting for a job
    std::size_t busy_ = 0;     // threads running a job, blocked ones included
    std::size_t blocked_ = 0;  // busy threads blocked in a BlockingWait
    std::vector<std::shared_ptr<BlockingWait>> idleWaiters_;
    std::deque<Job>* forkSpare_;  // an empty queue for a forked child to take
    std::deque<Job>* parentJobs_ = nullptr;  // in a forked child: the parent's jobs, never run
};

// Lets `value` go on a pool thread: for a large value (a document's text, a
// reply with every heading) whose freeing would hold up the main thread.
template <class T>
void releaseOnWorker(T value) {
    WorkerPool::shared().post([held = std::move(value)]() mutable {
        [[maybe_unused]] T released = std::move(held);
    });
}

}  // namespace larkspin
