#include <gtest/gtest.h>

#include <chrono>
#include <glib.h>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;

TEST(MainThread, PostAfterRunsOnTheMainThreadAfterTheDelayUnlessCancelled) {
    ManualClock clock;
    std::vector<std::string> ran;
    MainThread::postAfter(clock, 10ms, [&] {
        EXPECT_TRUE(MainThread::isMainThread());
        ran.push_back("kept");
    });
    TimerHandle early = MainThread::postAfter(clock, 10ms, [&] { ran.push_back("early"); });
    TimerHandle queued = MainThread::postAfter(clock, 10ms, [&] { ran.push_back("queued"); });

    EXPECT_TRUE(early.cancel());  // before the timer fired
    clock.advance(9ms);
    MainThread::drainForTesting();
    EXPECT_TRUE(ran.empty());

    clock.advance(1ms);  // the timers post their jobs...
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(queued.cancel());  // ...and a job waiting in the queue can still be stopped
    MainThread::drainForTesting();
    EXPECT_EQ(ran, (std::vector<std::string>{"kept"}));
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

// Jobs run in the order they were posted. A turn that runs past its slice
// (a job slower than the slice) leaves the rest for the next turn, still in
// their order and ahead of anything posted meanwhile.
TEST(MainThread, JobsRunInPostingOrderAcrossTurnsThatRunOutOfTime) {
    MainThread::drainForTesting();
    std::vector<int> ran;
    MainThread::post([&] {
        ran.push_back(0);
        // Longer than any turn's slice: the turn ends after this job.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        MainThread::post([&] { ran.push_back(100); });
    });
    for (int job = 1; job <= 5; ++job) MainThread::post([&ran, job] { ran.push_back(job); });

    for (int round = 0; round < 100 && ran.empty(); ++round) g_main_context_iteration(g_main_context_default(), FALSE);
    EXPECT_EQ(ran, std::vector<int>{0}) << "one turn ran past its slice";
    EXPECT_EQ(MainThread::pendingCount(), 6u);
    MainThread::drainForTesting();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4, 5, 100}));
}

}  // namespace
}  // namespace larkspin
