#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Async/Clock.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;

TEST(ManualClock, FiresDueTimersInDeadlineOrderThenSchedulingOrder) {
    ManualClock clock;
    std::vector<std::string> fired;
    const auto start = clock.now();
    std::vector<Clock::TimePoint> seenAt;
    auto record = [&](std::string name) {
        return [&, name] {
            fired.push_back(name);
            seenAt.push_back(clock.now());
        };
    };
    clock.scheduleAfter(30ms, record("c"));
    clock.scheduleAfter(10ms, record("a1"));
    clock.scheduleAfter(10ms, record("a2"));
    clock.scheduleAfter(20ms, record("b"));
    clock.scheduleAfter(-5ms, record("now"));  // negative counts as zero

    clock.advance(9ms);
    EXPECT_EQ(fired, (std::vector<std::string>{"now"}));
    clock.advance(11ms);
    EXPECT_EQ(fired, (std::vector<std::string>{"now", "a1", "a2", "b"}));
    // Each callback saw its own deadline as the time.
    EXPECT_EQ(seenAt[1], start + 10ms);
    EXPECT_EQ(seenAt[3], start + 20ms);
    EXPECT_EQ(clock.now(), start + 20ms);
    EXPECT_EQ(clock.pendingTimerCount(), 1u);
    clock.advance(1h);
    EXPECT_EQ(fired.back(), "c");
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

TEST(ManualClock, TimersScheduledByCallbacksFireWithinTheSameStep) {
    ManualClock clock;
    std::vector<int> fired;
    // A chain: each timer schedules the next 10 ms later.
    std::function<void(int)> chain = [&](int n) {
        fired.push_back(n);
        clock.scheduleAfter(10ms, [&, n] { chain(n + 1); });
    };
    clock.scheduleAfter(10ms, [&] { chain(1); });
    clock.advance(35ms);  // due at 10, 20, 30; the one at 40 waits
    EXPECT_EQ(fired, (std::vector<int>{1, 2, 3}));
    clock.advance(5ms);
    EXPECT_EQ(fired, (std::vector<int>{1, 2, 3, 4}));

    // Zero delays from a callback run in the same advance, never inside scheduleAfter.
    bool inner = false;
    clock.scheduleAfter(0ms, [&] { clock.scheduleAfter(0ms, [&] { inner = true; }); });
    EXPECT_FALSE(inner);
    clock.advance(0ms);
    EXPECT_TRUE(inner);
}

TEST(ManualClock, CancelledOrOrphanedTimersNeverFireAndReleaseTheirCallbacks) {
    ManualClock clock;
    auto captured = std::make_shared<int>(0);
    int fired = 0;
    TimerHandle handle = clock.scheduleAfter(10ms, [&fired, captured] { ++fired; });
    TimerHandle copy = handle;
    EXPECT_TRUE(handle.isPending());
    EXPECT_TRUE(copy.cancel());
    EXPECT_FALSE(handle.cancel());  // idempotent
    EXPECT_FALSE(handle.isPending());
    EXPECT_EQ(captured.use_count(), 1);  // released at cancel, not at the deadline
    clock.advance(1s);
    EXPECT_EQ(fired, 0);

    TimerHandle later = clock.scheduleAfter(10ms, [&fired] { ++fired; });
    clock.advance(10ms);
    EXPECT_FALSE(later.cancel());  // after firing: nothing to do
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(TimerHandle().cancel());

    // A timer cancelled by an earlier callback of the same step stays silent.
    TimerHandle victim;
    clock.scheduleAfter(5ms, [&] { victim.cancel(); });
    victim = clock.scheduleAfter(6ms, [&fired] { ++fired; });
    clock.advance(10ms);
    EXPECT_EQ(fired, 1);

    // Destroying the clock releases what is still pending.
    TimerHandle orphan;
    {
        ManualClock doomed;
        orphan = doomed.scheduleAfter(1h, [captured] {});
    }
    EXPECT_EQ(captured.use_count(), 1);
    EXPECT_FALSE(orphan.isPending());
}

TEST(ManualClock, WallTimeFollowsAdvanceAndSetWallNow) {
    const Clock::WallTime base(std::chrono::seconds(1'000'000));
    ManualClock clock(Clock::TimePoint(1h), base);
    EXPECT_EQ(clock.wallNow(), base);
    clock.advance(90s);
    EXPECT_EQ(clock.wallNow(), base + 90s);
    clock.setWallNow(base - 24h);  // the user changed the date
    clock.advance(1s);
    EXPECT_EQ(clock.wallNow(), base - 24h + 1s);
    EXPECT_EQ(clock.now(), Clock::TimePoint(1h) + 91s);
}

TEST(ManualClock, ExceptionsFromCallbacksAreLoggedAndLaterTimersStillFire) {
    test::LogCapture logs;
    ManualClock clock;
    bool after = false;
    clock.scheduleAfter(1ms, [] { throw std::runtime_error("boom"); });
    clock.scheduleAfter(2ms, [&] { after = true; });
    clock.advance(5ms);
    EXPECT_TRUE(after);
    EXPECT_TRUE(logs.contains("document", "定时任务抛出异常"));
}

// The real clock: only what no ManualClock can show (its own thread and heap).
struct Waiter {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> fired;
    std::thread::id thread;

    void add(std::string name) {
        std::lock_guard lock(mutex);
        fired.push_back(std::move(name));
        thread = std::this_thread::get_id();
        changed.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return fired.size() >= count; });
    }
};

TEST(SystemClock, FiresOnItsTimerThreadEarliestDeadlineFirst) {
    auto waiter = std::make_shared<Waiter>();
    Clock& clock = Clock::system();
    const auto before = clock.now();
    // The gap is wide enough that a busy machine pausing this thread between
    // the two calls cannot swap the deadlines.
    clock.scheduleAfter(400ms, [waiter] { waiter->add("late"); });
    clock.scheduleAfter(1ms, [waiter] { waiter->add("early"); });
    ASSERT_TRUE(waiter->waitFor(2));
    EXPECT_EQ(waiter->fired, (std::vector<std::string>{"early", "late"}));
    EXPECT_NE(waiter->thread, std::this_thread::get_id());
    EXPECT_GE(clock.now() - before, 400ms);
}

TEST(SystemClock, CancelRacingWithFiringSettlesEachTimerExactlyOnce) {
    constexpr int kTimers = 300;
    std::atomic<int> fired{0};
    std::atomic<int> cancelled{0};
    std::vector<TimerHandle> handles;
    for (int i = 0; i < kTimers; ++i) {
        handles.push_back(Clock::system().scheduleAfter(0ms, [&fired] { ++fired; }));
    }
    std::thread canceller([&] {
        for (auto& h : handles) {
            if (h.cancel()) ++cancelled;
        }
    });
    canceller.join();
    // Every timer either fired or was stopped by cancel(), never both.
    auto settled = std::make_shared<Waiter>();
    Clock::system().scheduleAfter(1ms, [settled] { settled->add("done"); });
    ASSERT_TRUE(settled->waitFor(1));
    EXPECT_EQ(fired.load() + cancelled.load(), kTimers);
}

}  // namespace
}  // namespace larkspin
