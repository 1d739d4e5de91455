#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

TEST(RunAndWait, GivesTheJobsResultOrErrorAndRunsAtOnceOnItsOwnQueue) {
    SerialExecutor executor("dev.corvantel.larkspin.test.wait");
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
        EXPECT_EQ(runAndWait(executor, [] { return 6 * 7; }), 42);
        EXPECT_THROW(runAndWait(executor, []() -> int { throw std::invalid_argument("no"); }),
                     std::invalid_argument);
        int ranHere = 0;
        runAndWait(executor, [&] {
            // From one of the queue's own jobs: run there and then, or wait for ever.
            ranHere = runAndWait(executor, [&] { return executor.isCurrent() ? 1 : 2; });
        });
        EXPECT_EQ(ranHere, 1);
        EXPECT_THROW(runAndWait(refusing, [] { return 1; }), BrokenPromise);
        EXPECT_THROW(runAndWait(dropping, [] { return 1; }), BrokenPromise);
    });
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
