#include "Platform/Async/WorkerPool.hpp"

#include <pthread.h>

#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {
thread_local bool tIsPoolThread = false;
}  // namespace

WorkerPool& WorkerPool::shared() {
    static auto* pool = new WorkerPool();
    return *pool;
}

WorkerPool::WorkerPool() : forkSpare_(new std::deque<Job>()) {
    // A child made by fork(2) has none of the pool's threads: it starts from
    // an empty pool (a test forks a process that saves).
    pthread_atfork([] { shared().mutex_.lock(); }, [] { shared().mutex_.unlock(); },
                   [] { shared().forkedChild(); });
}

void WorkerPool::forkedChild() {
    // Nothing here allocates: the child may be about to exec. The parent's
    // jobs are not this process's work; they stay unrun and unfreed in the
    // spare queue (freeing them might run what they hold). The pool keeps
    // pointing at that queue: memory the child still holds stays reachable,
    // so a leak check in a child that exits normally finds nothing of ours.
    if (forkSpare_ != nullptr) {
        jobs_.swap(*forkSpare_);
        parentJobs_ = std::exchange(forkSpare_, nullptr);
    }
    new (&idleWaiters_) std::vector<std::shared_ptr<BlockingWait>>();
    threads_ = idle_ = busy_ = blocked_ = 0;
    // Its waiters were threads of the parent.
    new (&wake_) std::condition_variable();
    mutex_.unlock();
}

bool WorkerPool::isPoolThread() {
    return tIsPoolThread;
}

void WorkerPool::post(Job job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    if (idle_ >= jobs_.size()) {
        wake_.notify_one();
    } else if (threads_ < maxThreads + blocked_) {
        startThreadLocked();
    }
}

void WorkerPool::startThreadLocked() {
    try {
        std::thread([this] { run(); }).detach();
        ++threads_;
    } catch (const std::system_error& error) {
        // The threads already running take the job; without any it waits for
        // the next post.
        AppLog::document.fault("无法启动工作线程：%{public}s", error.what());
    }
}

void WorkerPool::willBlock() {
    std::lock_guard lock(mutex_);
    ++blocked_;
    if (jobs_.size() > idle_ && threads_ < maxThreads + blocked_) startThreadLocked();
}

void WorkerPool::didUnblock() {
    std::lock_guard lock(mutex_);
    --blocked_;
}

void WorkerPool::waitUntilIdle() {
    for (;;) {
        auto idle = std::make_shared<BlockingWait>();
        {
            std::lock_guard lock(mutex_);
            if (jobs_.empty() && busy_ == 0) return;
            idleWaiters_.push_back(idle);
        }
        idle->wait();
    }
}

void WorkerPool::run() {
    tIsPoolThread = true;
    pthread_setname_np(pthread_self(), "larkspin-pool");
    std::unique_lock lock(mutex_);
    for (;;) {
        while (jobs_.empty()) {
            // Threads started while others were blocked end once they are spare.
            if (threads_ > maxThreads + blocked_) {
                --threads_;
                return;
            }
            ++idle_;
            wake_.wait(lock);
            --idle_;
        }
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        ++busy_;
        lock.unlock();
        try {
            job();
        } catch (const std::exception& error) {
            AppLog::document.fault("工作线程的任务抛出异常：%{private}s", error.what());
        } catch (...) {
            AppLog::document.fault("工作线程的任务抛出未知异常");
        }
        job = nullptr;  // its captures go before the lock is taken again
        lock.lock();
        --busy_;
        if (busy_ == 0 && jobs_.empty()) {
            for (auto& waiter : idleWaiters_) waiter->signal();
            idleWaiters_.clear();
        }
    }
}

}  // namespace larkspin
