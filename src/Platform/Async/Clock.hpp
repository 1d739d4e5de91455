#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace larkspin {

namespace detail {

// One scheduled callback. Whoever first claims it (the clock firing it, or a
// cancel) owns the callback; the other side then does nothing. Internal to
// Clock, TimerHandle and MainThread::postAfter.
class TimerState {
public:
    explicit TimerState(std::function<void()> callback) : callback_(std::move(callback)) {}
    TimerState(const TimerState&) = delete;
    TimerState& operator=(const TimerState&) = delete;

    // Runs the callback unless the timer was cancelled or already fired. An
    // exception from the callback is logged, never propagated.
    void fire();
    // True when this call stopped the callback from ever running.
    bool cancel();
    bool isSettled() const { return claimed_.load(std::memory_order_acquire); }
    // A timer whose cancel also cancels `other` (postAfter's two stages).
    void link(const std::shared_ptr<TimerState>& other) { linked_ = other; }

private:
    bool claim() { return !claimed_.exchange(true, std::memory_order_acq_rel); }

    std::atomic<bool> claimed_{false};
    std::function<void()> callback_;
    std::weak_ptr<TimerState> linked_;
};

}  // namespace detail

// A scheduled callback. Copies refer to the same timer; an empty handle does
// nothing. Dropping a handle does not cancel the timer.
class TimerHandle {
public:
    TimerHandle() = default;
    explicit TimerHandle(std::shared_ptr<detail::TimerState> state) : state_(std::move(state)) {}

    // Stops the callback if it has not started yet; returns true when this call
    // did so. Idempotent and safe from any thread; after the callback has
    // started it does nothing. Releases the callback (and what it captured) at
    // once, on the calling thread.
    bool cancel() const { return state_ && state_->cancel(); }

    // False once the timer has fired or been cancelled (and for an empty handle).
    bool isPending() const { return state_ && !state_->isSettled(); }

    // For the timer machinery only.
    const std::shared_ptr<detail::TimerState>& state() const { return state_; }

private:
    std::shared_ptr<detail::TimerState> state_;
};

// The source of time for every delay, time-out and date in the program, so that
// tests can replace it with a ManualClock.
class Clock {
public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;
    using WallTime = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;

    // Monotonic time, for delays and elapsed times.
    virtual TimePoint now() const = 0;
    // Calendar time, for dates shown or stored.
    virtual WallTime wallNow() const = 0;

    // Runs `callback` once, on the clock's own timer context, when `delay` has
    // passed (a negative delay counts as zero), unless cancelled first. Never
    // runs it inside this call. Callbacks must be short: they post or submit the
    // real work. Safe from any thread.
    TimerHandle scheduleAfter(Duration delay, std::function<void()> callback);

    // The real clock: a single timer thread, started on first use, sleeping
    // until the earliest deadline. Lives until the process exits.
    static Clock& system();

protected:
    Clock() = default;
    virtual void schedule(Duration delay, std::shared_ptr<detail::TimerState> timer) = 0;
};

// A clock that moves only when told to. Timers fire inside advance(), on the
// calling thread. scheduleAfter() may be called from any thread; advance() from
// one thread at a time. Destroying the clock releases the callbacks of the
// timers that never fired.
class ManualClock final : public Clock {
public:
    explicit ManualClock(TimePoint start = TimePoint(std::chrono::hours(24)),
                         WallTime wallStart = WallTime(std::chrono::seconds(1'700'000'000)));
    ~ManualClock() override;

    TimePoint now() const override;
    WallTime wallNow() const override;

    // Moves both times forward by `step` (negative counts as zero) and fires
    // every timer that falls due, in deadline order (ties in scheduling order),
    // with now() reading each timer's deadline while it runs. A timer scheduled
    // by a callback fires too if it falls due within the step.
    void advance(Duration step);
    void setWallNow(WallTime wall);

    // Timers neither fired nor cancelled.
    std::size_t pendingTimerCount() const;

protected:
    void schedule(Duration delay, std::shared_ptr<detail::TimerState> timer) override;

private:
    struct Entry {
        TimePoint deadline;
        std::uint64_t sequence;
        std::shared_ptr<detail::TimerState> timer;
    };

    mutable std::mutex mutex_;
    TimePoint now_;
    WallTime wallNow_;
    std::uint64_t nextSequence_ = 0;
    std::vector<Entry> heap_;
};

}  // namespace larkspin
