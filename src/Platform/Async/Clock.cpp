#include "Platform/Async/Clock.hpp"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <thread>

#include "Platform/Log.hpp"

namespace larkspin {

namespace detail {

void TimerState::fire() {
    if (!claim()) return;
    auto callback = std::move(callback_);
    callback_ = nullptr;
    try {
        if (callback) callback();
    } catch (const std::exception& error) {
        AppLog::document.fault("定时任务抛出异常：%{public}s", error.what());
    } catch (...) {
        AppLog::document.fault("定时任务抛出未知异常");
    }
}

bool TimerState::cancel() {
    if (auto other = linked_.lock()) other->cancel();
    if (!claim()) return false;
    auto released = std::move(callback_);
    callback_ = nullptr;
    return true;
}

}  // namespace detail

namespace {

Clock::Duration nonNegative(Clock::Duration d) {
    return std::max(d, Clock::Duration::zero());
}

// Orders a vector as a min-heap on (deadline, sequence).
template <typename Entry>
bool laterThan(const Entry& a, const Entry& b) {
    if (a.deadline != b.deadline) return a.deadline > b.deadline;
    return a.sequence > b.sequence;
}

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    WallTime wallNow() const override { return std::chrono::system_clock::now(); }

protected:
    void schedule(Duration delay, std::shared_ptr<detail::TimerState> timer) override {
        const TimePoint deadline = now() + nonNegative(delay);
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            heap_.push_back(Entry{deadline, nextSequence_++, std::move(timer)});
            std::push_heap(heap_.begin(), heap_.end(), laterThan<Entry>);
            if (!started_) {
                started_ = true;
                std::thread(&SystemClock::run, this).detach();
            }
            // Only a new earliest deadline shortens the current wait.
            wake = heap_.front().sequence == nextSequence_ - 1;
        }
        if (wake) wakeUp_.notify_one();
    }

private:
    struct Entry {
        TimePoint deadline;
        std::uint64_t sequence;
        std::shared_ptr<detail::TimerState> timer;
    };

    void run() {
        pthread_setname_np(pthread_self(), "larkspin-timer");
        std::unique_lock lock(mutex_);
        for (;;) {
            if (heap_.empty()) {
                wakeUp_.wait(lock);
                continue;
            }
            const TimePoint deadline = heap_.front().deadline;
            if (now() < deadline) {
                wakeUp_.wait_until(lock, deadline);
                continue;
            }
            std::pop_heap(heap_.begin(), heap_.end(), laterThan<Entry>);
            auto timer = std::move(heap_.back().timer);
            heap_.pop_back();
            lock.unlock();
            timer->fire();
            timer.reset();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::vector<Entry> heap_;
    std::uint64_t nextSequence_ = 0;
    bool started_ = false;
};

}  // namespace

TimerHandle Clock::scheduleAfter(Duration delay, std::function<void()> callback) {
    auto timer = std::make_shared<detail::TimerState>(std::move(callback));
    schedule(delay, timer);
    return TimerHandle(std::move(timer));
}

Clock& Clock::system() {
    // Never destroyed: timers may be scheduled and fire during static destruction.
    static auto* clock = new SystemClock();
    return *clock;
}

ManualClock::ManualClock(TimePoint start, WallTime wallStart) : now_(start), wallNow_(wallStart) {}

ManualClock::~ManualClock() {
    std::vector<Entry> entries;
    {
        std::lock_guard lock(mutex_);
        entries.swap(heap_);
    }
    // Release what the callbacks captured (a waiting operation then learns that
    // its timer is gone) instead of keeping it alive through stray handles.
    for (auto& entry : entries) entry.timer->cancel();
}

Clock::TimePoint ManualClock::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

Clock::WallTime ManualClock::wallNow() const {
    std::lock_guard lock(mutex_);
    return wallNow_;
}

void ManualClock::setWallNow(WallTime wall) {
    std::lock_guard lock(mutex_);
    wallNow_ = wall;
}

void ManualClock::schedule(Duration delay, std::shared_ptr<detail::TimerState> timer) {
    std::lock_guard lock(mutex_);
    heap_.push_back(Entry{now_ + nonNegative(delay), nextSequence_++, std::move(timer)});
    std::push_heap(heap_.begin(), heap_.end(), laterThan<Entry>);
}

void ManualClock::advance(Duration step) {
    std::unique_lock lock(mutex_);
    const TimePoint target = now_ + nonNegative(step);
    // Wall time moves with monotonic time (and from wherever setWallNow put it).
    auto moveTo = [this](TimePoint t) {
        if (t <= now_) return;
        wallNow_ += std::chrono::duration_cast<WallTime::duration>(t - now_);
        now_ = t;
    };
    while (!heap_.empty() && heap_.front().deadline <= target) {
        std::pop_heap(heap_.begin(), heap_.end(), laterThan<Entry>);
        Entry entry = std::move(heap_.back());
        heap_.pop_back();
        moveTo(entry.deadline);
        lock.unlock();
        entry.timer->fire();
        entry.timer.reset();
        lock.lock();
    }
    moveTo(target);
}

std::size_t ManualClock::pendingTimerCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        heap_.begin(), heap_.end(), [](const Entry& e) { return !e.timer->isSettled(); }));
}

}  // namespace larkspin
