#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/Task.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
using Steps = std::shared_ptr<std::vector<std::string>>;

template <typename T>
bool finishes(const std::shared_ptr<test::TaskOutcome<T>>& outcome) {
    return test::runMainLoopUntil([&] { return outcome->finished; });
}

template <typename Error, typename T>
bool endedWith(const std::shared_ptr<test::TaskOutcome<T>>& outcome) {
    if (!outcome->finished || !outcome->error) return false;
    try {
        std::rethrow_exception(outcome->error);
    } catch (const Error&) {
        return true;
    } catch (...) {
        return false;
    }
}

// ---- Coroutines under test (free functions: parameters by value) ----

Task<int> immediately(int value) {
    co_return value;
}

Task<int> failing(std::string message) {
    throw std::runtime_error(message);
    co_return 0;
}

Task<std::unique_ptr<int>> boxed(int value) {
    co_return std::make_unique<int>(value);
}

Task<int> sleepThen(std::shared_ptr<ManualClock> clock, Clock::Duration delay, int value,
                    CancellationToken token = {}) {
    co_await sleepFor(*clock, delay, token);
    co_return value;
}

Task<int> composed(std::shared_ptr<ManualClock> clock) {
    int total = co_await immediately(1);
    total += *(co_await boxed(10));
    total += co_await sleepThen(clock, 5ms, 100);
    try {
        co_await failing("inner");
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()) == "inner") total += 1000;
    }
    co_return total;
}

Task<long> sumOfImmediates(int count) {
    long sum = 0;
    for (int i = 0; i < count; ++i) sum += co_await immediately(i);
    co_return sum;
}

Task<void> holdUntilDestroyed(std::shared_ptr<int> guard) {
    ++*guard;  // never reached when the task is never started
    co_return;
}

Task<int> sleepHolding(std::shared_ptr<ManualClock> clock, std::shared_ptr<int> guard) {
    co_await sleepFor(*clock, 10ms);
    co_return *guard;
}

// ---- Composition ----

TEST(Task, ChildTasksGiveTheirValuesOrRethrowTheirErrors) {
    auto clock = std::make_shared<ManualClock>();
    auto outcome = test::startTask(composed(clock));
    MainThread::drainForTesting();
    EXPECT_FALSE(outcome->finished);  // waiting in the sleeping child
    clock->advance(5ms);
    ASSERT_TRUE(finishes(outcome));
    EXPECT_EQ(outcome->value, 1111);

    EXPECT_THROW(test::runTask(failing("outer")), std::runtime_error);
}

TEST(Task, ChildrenThatFinishAtOnceDoNotDeepenTheStack) {
    // Each child ends inside its first resume; the parent goes straight on
    // instead of being resumed from inside the child.
    EXPECT_EQ(test::runTask(sumOfImmediates(200'000)), 200'000L * 199'999 / 2);
}

TEST(Task, ANeverStartedTaskIsFreedWithoutRunning) {
    auto guard = std::make_shared<int>(0);
    {
        Task<void> task = holdUntilDestroyed(guard);
        EXPECT_EQ(guard.use_count(), 2);  // its parameter lives in the frame
    }
    EXPECT_EQ(guard.use_count(), 1);
    EXPECT_EQ(*guard, 0);
}

TEST(Task, DestroyingAStartedTaskLetsItFinishAndFreeItself) {
    auto clock = std::make_shared<ManualClock>();
    auto guard = std::make_shared<int>(7);
    {
        Task<int> task = sleepHolding(clock, guard);
        // Start it the way a parent's co_await does, then let go of the Task
        // while the frame waits on its timer.
        auto awaiter = std::move(task).operator co_await();
        EXPECT_TRUE(awaiter.await_suspend(std::noop_coroutine()));
    }
    EXPECT_EQ(guard.use_count(), 2);  // the suspended frame was not freed
    clock->advance(10ms);
    EXPECT_TRUE(test::runMainLoopUntil([&] { return guard.use_count() == 1; }));
}

// ---- Resumption: always later, always on the main thread ----

Task<void> resolvesAtOnce(Steps steps) {
    steps->push_back("start");
    auto resolveNow = [](Completion<int> done) { done.resolve(5); };
    const int value = co_await awaitCompletion<int>(resolveNow);
    steps->push_back("resumed " + std::to_string(value));
}

TEST(TaskResumption, AnOperationFinishedAtOnceStillResumesOnALaterTurn) {
    auto steps = std::make_shared<std::vector<std::string>>();
    spawn(resolvesAtOnce(steps));
    EXPECT_TRUE(steps->empty());  // spawn starts on a later turn too
    MainThread::post([steps] { steps->push_back("posted"); });
    MainThread::drainForTesting();
    // The resumption queued behind the job that was already waiting.
    EXPECT_EQ(*steps, (std::vector<std::string>{"start", "posted", "resumed 5"}));
}

// ---- Exactly once ----

Task<int> completedTwice() {
    auto completeThrice = [](Completion<int> done) {
        done.resolve(1);
        done.resolve(2);
        done.fail(std::make_exception_ptr(std::runtime_error("late")));
    };
    co_return co_await awaitCompletion<int>(completeThrice);
}

Task<int> neverCompleted(std::shared_ptr<std::thread> dropper) {
    auto dropOnThread = [dropper](Completion<int> done) {
        // Kept for a while on another thread, then dropped without a result.
        *dropper = std::thread([done] {});
    };
    co_return co_await awaitCompletion<int>(dropOnThread);
}

Task<int> starterThrows() {
    auto refuse = [](Completion<int>) { throw std::invalid_argument("cannot start"); };
    co_return co_await awaitCompletion<int>(refuse);
}

TEST(AwaitCompletion, CompletesExactlyOnceWhateverTheCompletingCodeDoes) {
    test::LogCapture logs;
    EXPECT_EQ(test::runTask(completedTwice()), 1);
    EXPECT_TRUE(logs.contains("document", "重复完成"));
    logs.clear();

    auto dropper = std::make_shared<std::thread>();
    EXPECT_THROW(test::runTask(neverCompleted(dropper)), BrokenPromise);
    dropper->join();

    // The starter's own error wins over the Completion it dropped while throwing.
    EXPECT_THROW(test::runTask(starterThrows()), std::invalid_argument);
    EXPECT_FALSE(logs.contains("document", "重复完成"));
}

// ---- Ending a wait early ----

TEST(SleepFor, EndsAfterItsDelayOrAtOnceWhenCancelled) {
    auto clock = std::make_shared<ManualClock>();
    CancellationSource source;
    auto slow = test::startTask(sleepThen(clock, 100ms, 1, source.token()));
    auto fast = test::startTask(sleepThen(clock, 50ms, 2, source.token()));
    auto other = test::startTask(sleepThen(clock, 100ms, 3));
    MainThread::drainForTesting();
    clock->advance(99ms);
    MainThread::drainForTesting();
    EXPECT_TRUE(fast->finished);
    EXPECT_EQ(fast->value, 2);
    EXPECT_FALSE(slow->finished);

    source.cancel();  // no clock movement needed
    ASSERT_TRUE(finishes(slow));
    EXPECT_TRUE(endedWith<TaskCancelled>(slow));
    EXPECT_EQ(clock->pendingTimerCount(), 1u);  // the cancelled sleep's timer is gone
    EXPECT_FALSE(other->finished);
    clock->advance(1ms);
    ASSERT_TRUE(finishes(other));
    EXPECT_EQ(other->value, 3);

    // Already cancelled: no timer at all.
    auto already = test::startTask(sleepThen(clock, 1h, 4, source.token()));
    ASSERT_TRUE(finishes(already));
    EXPECT_TRUE(endedWith<TaskCancelled>(already));
    EXPECT_EQ(clock->pendingTimerCount(), 0u);
}

Task<int> sleepOnBorrowedClock(std::shared_ptr<std::unique_ptr<ManualClock>> holder) {
    co_await sleepFor(**holder, 1h);
    co_return 1;
}

TEST(SleepFor, EndsWithBrokenPromiseWhenItsClockGoesAway) {
    auto holder = std::make_shared<std::unique_ptr<ManualClock>>(std::make_unique<ManualClock>());
    auto outcome = test::startTask(sleepOnBorrowedClock(holder));
    MainThread::drainForTesting();
    EXPECT_FALSE(outcome->finished);
    holder->reset();
    ASSERT_TRUE(finishes(outcome));
    EXPECT_TRUE(endedWith<BrokenPromise>(outcome));
}

Task<int> awaitSlot(std::shared_ptr<std::optional<Completion<int>>> slot, CancellationToken token) {
    auto keepInSlot = [slot](Completion<int> done) { slot->emplace(done); };
    co_return co_await awaitCompletion<int>(keepInSlot, token);
}

TEST(AwaitCompletion, ACompletionRacingWithACancelSettlesTheWaitExactlyOnce) {
    test::LogCapture logs;
    for (int round = 0; round < 200; ++round) {
        CancellationSource source;
        auto slot = std::make_shared<std::optional<Completion<int>>>();
        auto outcome = test::startTask(awaitSlot(slot, source.token()));
        MainThread::drainForTesting();
        ASSERT_TRUE(slot->has_value());

        std::latch go(2);
        std::thread completer([&] {
            go.arrive_and_wait();
            (*slot)->resolve(round);
        });
        std::thread canceller([&] {
            go.arrive_and_wait();
            source.cancel();
        });
        completer.join();
        canceller.join();
        slot->reset();

        ASSERT_TRUE(finishes(outcome));
        EXPECT_TRUE(outcome->value == round || endedWith<TaskCancelled>(outcome));
        MainThread::drainForTesting();  // nothing else may resume the finished frame
    }
    // A result arriving after a cancel is expected, not a fault.
    EXPECT_FALSE(logs.contains("document", "重复完成"));
}

// ---- Work on a serial executor ----

Task<std::string> onWorker(std::shared_ptr<SerialExecutor> executor) {
    auto isCurrent = [executor] { return executor->isCurrent(); };
    const bool current = co_await runOn(*executor, isCurrent);
    auto nothing = [] {};
    co_await runOn(*executor, nothing);
    auto write = [] { return std::string("written"); };
    auto text = co_await runOn(*executor, write);
    co_return (current && MainThread::isMainThread()) ? text : std::string("wrong thread");
}

Task<int> throwsOnWorker(std::shared_ptr<SerialExecutor> executor) {
    auto fail = []() -> int { throw std::runtime_error("disk full"); };
    co_return co_await runOn(*executor, fail);
}

TEST(RunOn, RunsOnTheExecutorAndResumesOnMainWithTheResultOrError) {
    auto executor = std::make_shared<SerialExecutor>("dev.corvantel.larkspin.test.runon");
    EXPECT_EQ(test::runTask(onWorker(executor)), "written");
    EXPECT_THROW(test::runTask(throwsOnWorker(executor)), std::runtime_error);
}

Task<int> runBlockedJob(std::shared_ptr<SerialExecutor> executor, std::shared_future<void> opening,
                        std::shared_ptr<std::atomic<int>> ran, CancellationToken token) {
    auto job = [opening, ran] {
        opening.wait_for(test::waitLimit);
        return ++*ran;
    };
    co_return co_await runOn(*executor, job, token);
}

TEST(RunOn, ACancelEndsTheWaitAtOnceAndTheJobStillRuns) {
    auto executor = std::make_shared<SerialExecutor>("dev.corvantel.larkspin.test.token");
    std::promise<void> gate;
    auto ran = std::make_shared<std::atomic<int>>(0);
    CancellationSource source;
    auto outcome =
        test::startTask(runBlockedJob(executor, gate.get_future().share(), ran, source.token()));
    MainThread::drainForTesting();
    source.cancel();
    ASSERT_TRUE(finishes(outcome));
    EXPECT_TRUE(endedWith<TaskCancelled>(outcome));
    EXPECT_EQ(ran->load(), 0);  // still waiting at its gate
    gate.set_value();
    ASSERT_TRUE(drainForTesting(*executor));
    EXPECT_EQ(ran->load(), 1);
}

// ---- Detached tasks ----

Task<void> escapes(std::string message) {
    co_await immediately(0);
    throw std::runtime_error(message);
}

Task<void> cancelledSleep(std::shared_ptr<ManualClock> clock, CancellationToken token,
                          std::shared_ptr<bool> reached) {
    co_await sleepFor(*clock, 1s, token);
    *reached = true;
}

TEST(Spawn, ErrorsEscapingDetachedTasksAreLoggedNotFatal) {
    test::LogCapture logs;
    spawn(escapes("unhandled"));
    auto clock = std::make_shared<ManualClock>();
    CancellationSource source;
    auto reached = std::make_shared<bool>(false);
    spawn(cancelledSleep(clock, source.token(), reached));
    MainThread::drainForTesting();
    source.cancel();
    MainThread::drainForTesting();
    EXPECT_FALSE(*reached);
    EXPECT_EQ(reached.use_count(), 1);  // both frames freed themselves

    int faults = 0;
    for (const auto& r : logs.records()) {
        if (r.level == LogLevel::fault) ++faults;
    }
    EXPECT_EQ(faults, 1);  // the error; a cancellation is a normal end
    EXPECT_TRUE(logs.contains("document", "后台任务因错误结束"));
}

}  // namespace
}  // namespace larkspin
