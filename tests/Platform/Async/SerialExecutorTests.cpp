#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Support/LogCapture.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;

// Blocks the job that waits on it until it is opened (or the test's wait limit
// passes, so that a broken test ends instead of hanging).
class Gate {
public:
    void open() { opened_.set_value(); }
    bool pass() const { return opening_.wait_for(test::waitLimit) == std::future_status::ready; }

private:
    std::promise<void> opened_;
    std::shared_future<void> opening_ = opened_.get_future().share();
};

TEST(SerialExecutor, RunsJobsOneAtATimeInSubmissionOrder) {
    SerialExecutor executor("dev.corvantel.larkspin.test.fifo");
    EXPECT_FALSE(executor.isCurrent());
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> faulty{false};
    // Several threads submit; each thread's own jobs keep their order.
    std::vector<std::thread> submitters;
    for (int t = 0; t < 4; ++t) {
        submitters.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                executor.submit([&, value = t * 1000 + i] {
                    if (running.fetch_add(1) != 0 || !executor.isCurrent()) faulty = true;
                    std::lock_guard lock(mutex);
                    order.push_back(value);
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (auto& s : submitters) s.join();
    ASSERT_TRUE(drainForTesting(executor));
    EXPECT_FALSE(faulty);
    std::lock_guard lock(mutex);
    ASSERT_EQ(order.size(), 800u);
    std::vector<int> last(4, -1);
    for (int value : order) {
        EXPECT_GT(value % 1000, last[value / 1000]);
        last[value / 1000] = value % 1000;
    }
}

TEST(SerialExecutor, DestructionRunsEveryQueuedJobAndDropsLaterOnes) {
    test::LogCapture logs;
    std::vector<int> ran;
    std::atomic<int> lateRan{0};
    int lateAccepted = 0;  // written by the first job, read after the destructor
    Gate gate;
    auto executor = std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.drain");
    SerialExecutor* raw = executor.get();
    // The first job holds the queue until the destructor has begun (it sees
    // its own submissions refused), so everything behind it is still queued
    // then.
    executor->submit([&, raw] {
        EXPECT_TRUE(gate.pass());
        while (raw->submit([&] { ++lateRan; })) {
            ++lateAccepted;
            std::this_thread::yield();
        }
        ran.push_back(0);
    });
    for (int i = 1; i <= 100; ++i) executor->submit([&ran, i] { ran.push_back(i); });
    // Off the main thread, the destructor returns once the queue has run.
    test::runOffMainThread([&] {
        gate.open();
        executor.reset();
    });

    ASSERT_EQ(ran.size(), 101u);
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(ran[i], i);
    EXPECT_TRUE(logs.contains("document", "dev.corvantel.larkspin.test.drain"));
    // Whatever was accepted right up to the moment shutdown began ran too.
    EXPECT_EQ(lateRan.load(), lateAccepted);
}

TEST(SerialExecutor, AThrowingJobIsLoggedAndTheQueueGoesOn) {
    test::LogCapture logs;
    SerialExecutor executor("dev.corvantel.larkspin.test.throw");
    std::atomic<bool> ranOn{false};
    executor.submit([] { throw std::runtime_error("disk on fire"); });
    executor.submit([] { throw 42; });
    executor.submit([&] { ranOn = true; });
    ASSERT_TRUE(drainForTesting(executor));
    EXPECT_TRUE(ranOn);
    int faults = 0;
    for (const auto& r : logs.records())
        faults += r.level == LogLevel::fault && r.message.find("test.throw") != std::string::npos;
    EXPECT_EQ(faults, 2);
}

TEST(SerialExecutor, DelayedJobsGoThroughTheClockThenTheQueue) {
    test::LogCapture logs;
    ManualClock clock;
    std::mutex mutex;
    std::vector<std::string> ran;
    auto record = [&](std::string name) {
        return [&, name] {
            std::lock_guard lock(mutex);
            ran.push_back(name);
        };
    };
    auto executor = std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.delay", clock);
    executor->submitAfter(20ms, record("second"));
    executor->submitAfter(10ms, record("first"));
    TimerHandle cancelled = executor->submitAfter(15ms, record("cancelled"));
    cancelled.cancel();

    clock.advance(25ms);
    ASSERT_TRUE(drainForTesting(*executor));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
    }

    // A delayed job falling due after shutdown is dropped, and said so.
    executor->submitAfter(10ms, record("too late"));
    executor.reset();
    clock.advance(10ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(ran.size(), 2u);
    EXPECT_TRUE(logs.contains("document", "dev.corvantel.larkspin.test.delay"));
}

TEST(SerialExecutor, TheLastOwnerMayLetGoFromOneOfItsOwnJobs) {
    auto executor = std::make_shared<SerialExecutor>("dev.corvantel.larkspin.test.self");
    auto gate = std::make_shared<Gate>();
    std::promise<std::vector<int>> result;
    auto future = result.get_future();
    auto ran = std::make_shared<std::vector<int>>();
    executor->submit([gate, holder = executor]() mutable {
        EXPECT_TRUE(gate->pass());
        holder.reset();  // the last reference: destroyed by its own job
    });
    executor->submit([ran] { ran->push_back(1); });
    executor->submit([ran, &result] { result.set_value(*ran); });
    executor.reset();
    gate->open();
    // Still drains what was queued, without waiting for itself.
    ASSERT_TRUE(test::isReady(future));
    EXPECT_EQ(future.get(), (std::vector<int>{1}));
}

TEST(SerialExecutor, FinishAllWaitsForQueuesWhoseExecutorsAreGone) {
    auto count = std::make_shared<std::atomic<int>>(0);
    auto gate = std::make_shared<Gate>();
    for (int i = 0; i < 8; ++i) {
        auto executor = std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.finish");
        executor->submit([gate] { EXPECT_TRUE(gate->pass()); });
        for (int j = 0; j < 10; ++j) executor->submit([count] { ++*count; });
        // Let go on the main thread: the queue finishes on the pool.
    }
    EXPECT_LT(count->load(), 80);
    gate->open();
    test::runOffMainThread([] { SerialExecutor::finishAll(); });
    EXPECT_EQ(count->load(), 80);
}

}  // namespace
}  // namespace larkspin
