#include "Platform/Async/SerialExecutor.hpp"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "Platform/Log.hpp"

namespace larkspin {

// Shared with the worker thread, so that a worker left to finish on its own
// (the executor destroyed from one of its jobs) never touches freed memory.
struct SerialExecutor::State {
    explicit State(std::string name) : label(std::move(name)) {}

    bool enqueue(Job job) {
        {
            std::lock_guard lock(mutex);
            if (!stopping) {
                jobs.push_back(std::move(job));
                wake.notify_one();
                return true;
            }
        }
        AppLog::document.error("串行队列 %{public}s 已关闭，丢弃新任务", label);
        return false;  // `job` is destroyed here, outside the lock
    }

    void run() {
        // Thread names hold 15 bytes: keep the last segment of the label.
        const auto dot = label.rfind('.');
        const std::string name =
            (dot == std::string::npos ? label : label.substr(dot + 1)).substr(0, 15);
        pthread_setname_np(pthread_self(), name.c_str());

        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (jobs.empty()) return;  // stopping, and everything queued has run
            Job job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            try {
                job();
            } catch (const std::exception& error) {
                AppLog::document.fault("串行队列 %{public}s 的任务抛出异常：%{private}s", label,
                                       error.what());
            } catch (...) {
                AppLog::document.fault("串行队列 %{public}s 的任务抛出未知异常", label);
            }
            job = nullptr;  // release its captures before taking the lock again
            lock.lock();
        }
    }

    const std::string label;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool stopping = false;
    std::atomic<std::thread::id> worker{};
    std::thread thread;
};

SerialExecutor::SerialExecutor(std::string label, Clock& clock)
    : state_(std::make_shared<State>(std::move(label))), clock_(clock) {
    state_->thread = std::thread([state = state_] { state->run(); });
    state_->worker.store(state_->thread.get_id());
}

SerialExecutor::~SerialExecutor() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (isCurrent()) {
        // Joining ourselves would deadlock; the worker drains the queue and ends.
        state_->thread.detach();
    } else {
        state_->thread.join();
    }
}

bool SerialExecutor::submit(Job job) {
    return state_->enqueue(std::move(job));
}

TimerHandle SerialExecutor::submitAfter(Clock::Duration delay, Job job) {
    // The clock's callbacks are copyable; the job may not be.
    auto pending = std::make_shared<Job>(std::move(job));
    return clock_.scheduleAfter(delay,
                                [state = state_, pending] { state->enqueue(std::move(*pending)); });
}

bool SerialExecutor::isCurrent() const {
    return state_->worker.load() == std::this_thread::get_id();
}

const std::string& SerialExecutor::label() const {
    return state_->label;
}

}  // namespace larkspin
