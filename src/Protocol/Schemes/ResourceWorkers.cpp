#include "Protocol/Schemes/ResourceWorkers.hpp"

#include <deque>
#include <exception>
#include <mutex>

#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

struct PooledResourceWorkers::State {
    std::string label;
    std::size_t limit = 1;
    std::mutex mutex;
    std::deque<Job> queued;
    std::size_t running = 0;  // jobs handed to the pool and not yet finished
};

// Runs one job, then hands the next queued one to the pool (a new pool job,
// so other work on the pool gets its turn in between) or gives up its place.
void PooledResourceWorkers::runNext(std::shared_ptr<State> state, Job job) {
    try {
        job();
    } catch (const std::exception& error) {
        AppLog::resources.fault("资源任务 %{public}s 抛出异常：%{public}s", state->label,
                                error.what());
    } catch (...) {
        AppLog::resources.fault("资源任务 %{public}s 抛出异常", state->label);
    }
    job = nullptr;  // what it held goes before the next one starts
    Job next;
    {
        std::lock_guard lock(state->mutex);
        if (state->queued.empty()) {
            --state->running;
            return;
        }
        next = std::move(state->queued.front());
        state->queued.pop_front();
    }
    WorkerPool::shared().post([state, next = std::move(next)]() mutable {
        runNext(std::move(state), std::move(next));
    });
}

PooledResourceWorkers::PooledResourceWorkers(std::string label, std::size_t limit)
    : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    state_->limit = limit < 1 ? 1 : limit;
}

bool PooledResourceWorkers::submit(Job job) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->running >= state_->limit) {
            state_->queued.push_back(std::move(job));
            return true;
        }
        ++state_->running;
    }
    WorkerPool::shared().post([state = state_, job = std::move(job)]() mutable {
        runNext(std::move(state), std::move(job));
    });
    return true;
}

std::size_t PooledResourceWorkers::limit() const {
    return state_->limit;
}

}  // namespace larkspin
