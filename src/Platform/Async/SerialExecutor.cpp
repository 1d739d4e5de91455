#include "Platform/Async/SerialExecutor.hpp"

#include <deque>
#include <exception>
#include <mutex>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {
// The executor whose job runs on this thread right now.
thread_local const void* tCurrent = nullptr;
// Jobs one turn on a pool thread runs before the executor queues up again
// behind other executors' work.
constexpr int jobsPerTurn = 32;
}  // namespace

// Shared with the turns queued on the pool, so that an executor may go while
// its queue still runs.
struct SerialExecutor::State : std::enable_shared_from_this<State> {
    explicit State(std::string name) : label(std::move(name)) {}

    bool enqueue(Job job) {
        bool accepted = false;
        bool schedule = false;
        {
            std::lock_guard lock(mutex);
            if (!stopping) {
                jobs.push_back(std::move(job));
                accepted = true;
                schedule = !scheduled;
                scheduled = true;
            }
        }
        if (accepted) {
            if (schedule) scheduleTurn();
            return true;
        }
        AppLog::document.error("串行队列 %{public}s 已关闭，丢弃新任务", label);
        return false;  // `job` is destroyed here, outside the lock
    }

    // Refuses further jobs. The wait returned ends once everything queued has
    // run; null when nothing is queued.
    std::shared_ptr<BlockingWait> stop() {
        std::lock_guard lock(mutex);
        stopping = true;
        if (!scheduled) return nullptr;
        auto drained = std::make_shared<BlockingWait>();
        jobs.push_back([drained] { drained->signal(); });
        return drained;
    }

    void scheduleTurn() {
        WorkerPool::shared().post([self = shared_from_this()] { self->runTurn(); });
    }

    void runTurn() {
        const void* outer = std::exchange(tCurrent, this);
        bool more = false;
        for (int ran = 0;; ++ran) {
            Job job;
            {
                std::lock_guard lock(mutex);
                if (jobs.empty()) {
                    scheduled = false;
                    break;
                }
                if (ran == jobsPerTurn) {
                    more = true;
                    break;
                }
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            try {
                job();
            } catch (const std::exception& error) {
                AppLog::document.fault("串行队列 %{public}s 的任务抛出异常：%{private}s", label,
                                       error.what());
            } catch (...) {
                AppLog::document.fault("串行队列 %{public}s 的任务抛出未知异常", label);
            }
            job = nullptr;  // release its captures before the next job
        }
        tCurrent = outer;
        if (more) scheduleTurn();
    }

    const std::string label;
    std::mutex mutex;
    std::deque<Job> jobs;     // under mutex
    bool scheduled = false;   // a turn is queued on the pool or running; under mutex
    bool stopping = false;    // under mutex
};

SerialExecutor::SerialExecutor(std::string label, Clock& clock)
    : state_(std::make_shared<State>(std::move(label))), clock_(clock) {}

SerialExecutor::~SerialExecutor() {
    const auto drained = state_->stop();
    if (!drained || isCurrent()) return;
    // The main thread never waits for a queue (it may be writing to a slow
    // disk); what is queued finishes on the pool.
    if (MainThread::isMainThread() && !MainThread::isQuitting()) return;
    drained->wait();
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
    return tCurrent == state_.get();
}

const std::string& SerialExecutor::label() const {
    return state_->label;
}

void SerialExecutor::finishAll() {
    WorkerPool::shared().waitUntilIdle();
}

}  // namespace larkspin
