// One task at a time: a newer task replaces the older, whose catch-all lets the
// cancellation pass instead of handling it for an owner that moved on.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
using Trace = std::vector<std::string>;

class Debouncer {
public:
    explicit Debouncer(ManualClock& clock) : clock_(clock) {}
    void schedule(std::string name) { slot_.spawn(waitThenFire(std::move(name))); }
    void stop() { slot_.cancel(); }
    bool holdsTask() const { return slot_.holdsTask(); }
    Trace trace;

private:
    Task<void> waitThenFire(std::string name) {
        try {
            co_await sleepFor(clock_, 10ms);
            trace.push_back("fired " + name);
        } catch (...) {
            rethrowIfCancelled(std::current_exception());
            trace.push_back("failed " + name);
        }
    }

    ManualClock& clock_;
    TaskSlot slot_;
};

TEST(TaskSlot, ANewerTaskReplacesTheOlderAndCancelStopsIt) {
    ManualClock clock;
    Debouncer debouncer(clock);
    debouncer.schedule("a");
    MainThread::drainForTesting();
    clock.advance(5ms);
    debouncer.schedule("b");  // "a" waits at its sleep and is cancelled there
    MainThread::drainForTesting();
    clock.advance(10ms);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !debouncer.trace.empty(); }));
    MainThread::drainForTesting();
    EXPECT_EQ(debouncer.trace, Trace{"fired b"});
    EXPECT_EQ(clock.pendingTimerCount(), 0u);

    debouncer.schedule("c");
    MainThread::drainForTesting();
    debouncer.stop();
    EXPECT_FALSE(debouncer.holdsTask());
    clock.advance(10ms);
    MainThread::drainForTesting();
    MainThread::drainForTesting();
    EXPECT_EQ(debouncer.trace, Trace{"fired b"});

    // The slot takes tasks again after a cancel; going away cancels too.
    debouncer.schedule("d");
    MainThread::drainForTesting();
    EXPECT_TRUE(debouncer.holdsTask());
}

TEST(TaskSlot, RethrowIfCancelledPassesOnlyCancellations) {
    EXPECT_TRUE(isCancellation(std::make_exception_ptr(TaskCancelled())));
    EXPECT_FALSE(isCancellation(std::make_exception_ptr(std::runtime_error("x"))));
    EXPECT_FALSE(isCancellation(nullptr));
    EXPECT_THROW(rethrowIfCancelled(std::make_exception_ptr(TaskCancelled())), TaskCancelled);
    EXPECT_NO_THROW(rethrowIfCancelled(std::make_exception_ptr(std::runtime_error("x"))));
}

}  // namespace
}  // namespace larkspin
