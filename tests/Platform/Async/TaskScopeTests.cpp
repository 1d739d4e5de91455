// Tasks that end with their owner. The owners here use `this` after every
// co_await, as the scope allows: the sanitizer build turns any step past a
// cancelled await into a use after free.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
using Trace = std::vector<std::string>;

// What the owner's tasks wait for, outliving the owner.
struct World {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<SerialExecutor> executor =
        std::make_shared<SerialExecutor>("dev.corvantel.larkspin.test.scope");
    std::shared_ptr<std::optional<Completion<int>>> slot =
        std::make_shared<std::optional<Completion<int>>>();
    std::shared_ptr<std::promise<void>> gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> opening = gate->get_future().share();
    std::shared_ptr<std::atomic<int>> jobsRun = std::make_shared<std::atomic<int>>(0);
    Trace trace;
    std::shared_ptr<int> frameGuard = std::make_shared<int>(0);
};

enum class Wait { sleep, executor, callback, child };

class Owner {
public:
    explicit Owner(World& world) : world_(world) {}
    ~Owner() { world_.trace.push_back("owner gone"); }

    void start(Wait wait) { tasks_.spawn(waitThenRecord(wait, world_.frameGuard)); }
    void startParentOfSuicidalChild(std::function<void()> endOwner) {
        tasks_.spawn(parent(std::move(endOwner)));
    }

private:
    Task<void> waitThenRecord(Wait wait, std::shared_ptr<int> frameGuard) {
        (void)frameGuard;  // lives as long as the frame
        world_.trace.push_back("started");
        if (wait == Wait::sleep) {
            co_await sleepFor(*world_.clock, 10ms);
        } else if (wait == Wait::executor) {
            auto job = [opening = world_.opening, jobsRun = world_.jobsRun] {
                opening.wait_for(test::waitLimit);
                ++*jobsRun;
            };
            co_await runOn(*world_.executor, job);
        } else if (wait == Wait::callback) {
            auto keep = [slot = world_.slot](Completion<int> done) { slot->emplace(done); };
            co_await awaitCompletion<int>(keep);
        } else {
            co_await sleepingChild(world_.clock);
        }
        world_.trace.push_back("resumed");  // `this` must still be alive here
    }

    static Task<int> sleepingChild(std::shared_ptr<ManualClock> clock) {
        co_await sleepFor(*clock, 10ms);
        co_return 1;
    }

    Task<int> child(std::function<void()> endOwner) {
        co_await sleepFor(*world_.clock, 10ms);
        World& world = world_;  // what the child needs once the owner is gone
        endOwner();
        world.trace.push_back("child ended its owner");
        co_return 2;
    }

    Task<void> parent(std::function<void()> endOwner) {
        const int value = co_await child(std::move(endOwner));
        world_.trace.push_back("parent resumed " + std::to_string(value));
    }

    World& world_;
    TaskScope tasks_;
};

// Makes whatever the task waits for happen.
void finishWait(World& world, Wait wait) {
    switch (wait) {
        case Wait::sleep:
        case Wait::child:
            world.clock->advance(10ms);
            break;
        case Wait::executor:
            world.gate->set_value();
            ASSERT_TRUE(drainForTesting(*world.executor));
            break;
        case Wait::callback:
            ASSERT_TRUE(world.slot->has_value());
            (*world.slot)->resolve(5);
            world.slot->reset();
            break;
    }
}

const std::vector<std::pair<const char*, Wait>> waits = {
    {"sleep", Wait::sleep},
    {"runOn", Wait::executor},
    {"awaitCompletion", Wait::callback},
    {"child task", Wait::child},
};

// Each kind of wait, three ways: the owner lives on, goes while the task
// waits, or goes when the result has arrived and the resumption is queued.
TEST(TaskScope, ATaskEndsAtItsAwaitWhenItsOwnerGoes) {
    enum class End { never, whileWaiting, afterTheResult };
    for (const auto& [name, wait] : waits) {
        for (const auto when : {End::never, End::whileWaiting, End::afterTheResult}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(static_cast<int>(when)));
            test::LogCapture logs;
            World world;
            auto owner = std::make_unique<Owner>(world);
            owner->start(wait);
            MainThread::drainForTesting();
            ASSERT_EQ(world.trace, Trace{"started"});
            if (when == End::whileWaiting) owner.reset();
            finishWait(world, wait);
            if (when == End::afterTheResult) owner.reset();
            if (when == End::never) {
                EXPECT_TRUE(test::runMainLoopUntil([&] { return world.trace.size() == 2; }));
                EXPECT_EQ(world.trace, (Trace{"started", "resumed"}));
                continue;
            }
            EXPECT_TRUE(test::runMainLoopUntil([&] { return world.frameGuard.use_count() == 1; }))
                << "the task's frame was not freed";
            MainThread::drainForTesting();
            EXPECT_EQ(world.trace, (Trace{"started", "owner gone"}));
            EXPECT_EQ(world.clock->pendingTimerCount(), 0u);
            // Work handed to an executor still runs; only its result is dropped.
            EXPECT_EQ(world.jobsRun->load(), wait == Wait::executor ? 1 : 0);
            for (const auto& r : logs.records()) EXPECT_NE(r.level, LogLevel::fault) << r.message;
        }
    }
}

TEST(TaskScope, ATaskWhoseOwnerWentBeforeItStartedNeverRuns) {
    World world;
    auto owner = std::make_unique<Owner>(world);
    owner->start(Wait::sleep);
    owner.reset();
    MainThread::drainForTesting();
    EXPECT_EQ(world.frameGuard.use_count(), 1);
    EXPECT_EQ(world.trace, Trace{"owner gone"});
}

TEST(TaskScope, AChildThatEndsItsOwnerDoesNotResumeTheParent) {
    World world;
    auto owner = std::make_unique<Owner>(world);
    owner->startParentOfSuicidalChild([&owner] { owner.reset(); });
    MainThread::drainForTesting();
    world.clock->advance(10ms);
    MainThread::drainForTesting();
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(world.trace, (Trace{"owner gone", "child ended its owner"}));
}

}  // namespace
}  // namespace larkspin
