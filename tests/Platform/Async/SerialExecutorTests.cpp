#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/WorkerPool.hpp"
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

bool drained(SerialExecutor& executor) {
    return drainForTesting(executor);
}

TEST(SerialExecutor, RunsJobsOneAtATimeInSubmissionOrder) {
    SerialExecutor executor("dev.corvantel.larkspin.test.fifo");
    EXPECT_EQ(executor.label(), "dev.corvantel.larkspin.test.fifo");
    EXPECT_FALSE(executor.isCurrent());

    std::vector<int> order;  // touched only by the executor's jobs
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> current{true};
    // Several threads submit; each thread's own jobs keep their order.
    std::vector<std::thread> submitters;
    std::mutex orderMutex;
    for (int t = 0; t < 4; ++t) {
        submitters.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                executor.submit([&, value = t * 1000 + i] {
                    if (running.fetch_add(1) != 0) overlapped = true;
                    if (!executor.isCurrent()) current = false;
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
    ASSERT_TRUE(drained(executor));

    std::lock_guard lock(orderMutex);
    ASSERT_EQ(order.size(), 800u);
    EXPECT_FALSE(overlapped);
    EXPECT_TRUE(current);
    std::vector<int> last(4, -1);
    for (int value : order) {
        EXPECT_GT(value % 1000, last[value / 1000]);
        last[value / 1000] = value % 1000;
    }
}

TEST(SerialExecutor, ManyExecutorsShareTheFewThreadsOfThePool) {
    std::vector<std::unique_ptr<SerialExecutor>> executors;
    std::mutex mutex;
    std::set<std::thread::id> threads;
    for (int i = 0; i < 50; ++i) {
        executors.push_back(std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.many"));
        for (int j = 0; j < 20; ++j) {
            executors.back()->submit([&] {
                std::lock_guard lock(mutex);
                threads.insert(std::this_thread::get_id());
            });
        }
    }
    for (auto& executor : executors) ASSERT_TRUE(drained(*executor));
    std::lock_guard lock(mutex);
    EXPECT_LE(threads.size(), WorkerPool::maxThreads);
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

TEST(SerialExecutor, OnTheMainThreadDestructionReturnsAtOnceAndTheQueueStillRuns) {
    // Closing a document must not wait for its queue (a save to a slow disk).
    auto ran = std::make_shared<std::vector<int>>();
    auto gate = std::make_shared<Gate>();
    auto finished = std::make_shared<BlockingWait>();
    auto executor = std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.closing");
    executor->submit([gate] { EXPECT_TRUE(gate->pass()); });
    for (int i = 1; i <= 100; ++i) executor->submit([ran, i] { ran->push_back(i); });
    executor->submit([finished] { finished->signal(); });
    executor.reset();  // would not return before the gate opens if it waited
    EXPECT_FALSE(finished->isSignalled());
    gate->open();
    ASSERT_TRUE(finished->waitForTesting(test::waitLimit));
    ASSERT_EQ(ran->size(), 100u);
    for (int i = 1; i <= 100; ++i) EXPECT_EQ((*ran)[i - 1], i);
}

TEST(SerialExecutor, AThrowingJobIsLoggedAndTheQueueGoesOn) {
    test::LogCapture logs;
    SerialExecutor executor("dev.corvantel.larkspin.test.throw");
    std::promise<int> next;
    auto value = next.get_future();
    executor.submit([] { throw std::runtime_error("disk on fire"); });
    executor.submit([] { throw 42; });
    executor.submit([&] { next.set_value(7); });
    ASSERT_TRUE(test::isReady(value));
    EXPECT_EQ(value.get(), 7);
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
    ASSERT_TRUE(drained(*executor));
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

// ---- Waiting for a job ----

TEST(RunAndWait, GivesTheJobsResultOrErrorAndRunsAtOnceOnItsOwnQueue) {
    SerialExecutor executor("dev.corvantel.larkspin.test.wait");
    test::runOffMainThread([&] {
        EXPECT_EQ(runAndWait(executor, [] { return 6 * 7; }), 42);
        EXPECT_THROW(runAndWait(executor, []() -> int { throw std::invalid_argument("no"); }),
                     std::invalid_argument);
        int ranHere = 0;
        runAndWait(executor, [&] {
            // From one of the queue's own jobs: run there and then, or wait for ever.
            ranHere = runAndWait(executor, [&] { return executor.isCurrent() ? 1 : 2; });
        });
        EXPECT_EQ(ranHere, 1);
    });

    // A queue that refuses the job, and one that drops it unrun.
    struct Refusing {
        bool submit(std::move_only_function<void()>) { return false; }
    } refusing;
    struct Dropping {
        bool submit(std::move_only_function<void()> job) {
            std::thread([dropped = std::move(job)] {}).join();
            return true;
        }
    } dropping;
    test::runOffMainThread([&] {
        EXPECT_THROW(runAndWait(refusing, [] { return 1; }), BrokenPromise);
        EXPECT_THROW(runAndWait(dropping, [] { return 1; }), BrokenPromise);
    });
}

TEST(RunAndWait, JobsWaitingForJobsDoNotStarveThePool) {
    // Every pool thread waits for a job of another queue: the pool lends their
    // places, so the jobs waited for still find a thread.
    SerialExecutor inner("dev.corvantel.larkspin.test.inner");
    std::vector<std::unique_ptr<SerialExecutor>> outers;
    auto finished = std::make_shared<std::atomic<int>>(0);
    auto gate = std::make_shared<Gate>();
    auto all = std::make_shared<BlockingWait>();
    const int waiters = static_cast<int>(WorkerPool::maxThreads) + 2;
    for (int i = 0; i < waiters; ++i) {
        outers.push_back(std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.outer"));
        outers.back()->submit([&inner, gate, finished, all, waiters] {
            runAndWait(inner, [gate] { EXPECT_TRUE(gate->pass()); });
            if (++*finished == waiters) all->signal();
        });
    }
    gate->open();
    ASSERT_TRUE(all->waitForTesting(test::waitLimit)) << finished->load() << " of " << waiters;
    for (auto& outer : outers) ASSERT_TRUE(drained(*outer));
}

#if defined(LARKSPIN_DEBUG_ASSERTS)
TEST(BlockingWaitDeathTest, TheMainThreadMayNotWait) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SerialExecutor executor("dev.corvantel.larkspin.test.main");
    EXPECT_DEATH(runAndWait(executor, [] {}), "blocking wait on the main thread");
}
#endif

}  // namespace
}  // namespace larkspin
