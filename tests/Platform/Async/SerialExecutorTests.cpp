#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;

TEST(SerialExecutor, RunsJobsOneAtATimeInSubmissionOrderOnItsOwnThread) {
    SerialExecutor executor("dev.corvantel.larkspin.test.fifo");
    EXPECT_EQ(executor.label(), "dev.corvantel.larkspin.test.fifo");
    EXPECT_FALSE(executor.isCurrent());

    std::vector<int> order;  // touched only by the worker
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onWorker{true};
    // Several threads submit; each thread's own jobs keep their order.
    std::vector<std::thread> submitters;
    std::mutex orderMutex;
    for (int t = 0; t < 4; ++t) {
        submitters.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                executor.submit([&, value = t * 1000 + i] {
                    if (running.fetch_add(1) != 0) overlapped = true;
                    if (!executor.isCurrent()) onWorker = false;
                    {
                        std::lock_guard lock(orderMutex);
                        order.push_back(value);
                    }
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (auto& s : submitters) s.join();
    std::promise<void> done;
    executor.submit([&] { done.set_value(); });
    done.get_future().wait();

    std::lock_guard lock(orderMutex);
    ASSERT_EQ(order.size(), 800u);
    EXPECT_FALSE(overlapped);
    EXPECT_TRUE(onWorker);
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
    int lateAccepted = 0;  // written by the worker, read after the join
    std::promise<void> gate;
    auto executor = std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.drain");
    SerialExecutor* raw = executor.get();
    // The first job holds the queue until the destructor has begun (it sees its
    // own submissions refused), so everything behind it is still queued then.
    executor->submit([&, raw] {
        gate.get_future().wait();
        while (raw->submit([&] { ++lateRan; })) {
            ++lateAccepted;
            std::this_thread::yield();
        }
        ran.push_back(0);
    });
    for (int i = 1; i <= 100; ++i) executor->submit([&ran, i] { ran.push_back(i); });
    gate.set_value();
    executor.reset();  // returns only after the queue has drained

    ASSERT_EQ(ran.size(), 101u);
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(ran[i], i);
    EXPECT_TRUE(logs.contains("document", "dev.corvantel.larkspin.test.drain"));
    // Whatever was accepted right up to the moment shutdown began ran too.
    EXPECT_EQ(lateRan.load(), lateAccepted);
}

TEST(SerialExecutor, AThrowingJobIsLoggedAndTheWorkerGoesOn) {
    test::LogCapture logs;
    SerialExecutor executor("dev.corvantel.larkspin.test.throw");
    std::promise<int> next;
    executor.submit([] { throw std::runtime_error("disk on fire"); });
    executor.submit([] { throw 42; });
    executor.submit([&] { next.set_value(7); });
    EXPECT_EQ(next.get_future().get(), 7);
    const auto records = logs.records();
    int faults = 0;
    for (const auto& r : records) {
        if (r.level == LogLevel::fault && r.message.find("test.throw") != std::string::npos)
            ++faults;
    }
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
    auto moveOnly = std::make_unique<int>(5);
    executor->submitAfter(
        20ms, [&, p = std::move(moveOnly)] { record("move-only " + std::to_string(*p))(); });
    cancelled.cancel();

    clock.advance(25ms);
    std::promise<void> flushed;
    executor->submit([&] { flushed.set_value(); });
    flushed.get_future().wait();
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "move-only 5"}));
    }

    // A delayed job falling due after shutdown is dropped, and said so.
    executor->submitAfter(10ms, record("too late"));
    executor.reset();
    clock.advance(10ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(ran.size(), 3u);
    EXPECT_TRUE(logs.contains("document", "dev.corvantel.larkspin.test.delay"));
}

TEST(SerialExecutor, TheLastOwnerMayLetGoFromOneOfItsOwnJobs) {
    auto executor = std::make_shared<SerialExecutor>("dev.corvantel.larkspin.test.self");
    std::promise<void> gate;
    std::promise<std::vector<int>> result;
    auto ran = std::make_shared<std::vector<int>>();
    executor->submit([&gate, holder = executor]() mutable {
        gate.get_future().wait();
        holder.reset();  // the last reference: destroyed on its own worker
    });
    executor->submit([ran] { ran->push_back(1); });
    executor->submit([ran, &result] { result.set_value(*ran); });
    executor.reset();
    gate.set_value();
    // Still drains what was queued, without deadlocking on itself.
    EXPECT_EQ(result.get_future().get(), (std::vector<int>{1}));
}

}  // namespace
}  // namespace larkspin
