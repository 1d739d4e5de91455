#include <gtest/gtest.h>

#include <string>
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

}  // namespace
}  // namespace larkspin
