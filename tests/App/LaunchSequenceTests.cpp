#include "App/LaunchSequence.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace larkspin {
namespace {

// Records each step by name; delayed steps are kept with their delay and
// fired afterwards in the order a clock would fire them.
struct Recorder {
    std::vector<std::string> events;
    std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> delayed;

    LaunchSteps steps() {
        LaunchSteps steps;
        steps.migrate = [this] { events.push_back("migrate"); };
        steps.installMenus = [this] { events.push_back("menus"); };
        steps.schedulePrewarm = [this] { events.push_back("prewarm"); };
        steps.after = [this](std::chrono::milliseconds delay, std::function<void()> step) {
            events.push_back("arm " + std::to_string(delay.count()));
            delayed.emplace_back(delay, std::move(step));
        };
        steps.logWindowState = [this] { events.push_back("window state"); };
        steps.restoreDrafts = [this] { events.push_back("restore"); };
        steps.releaseLaunchHold = [this] { events.push_back("release"); };
        return steps;
    }

    void fireAll() {
        std::stable_sort(delayed.begin(), delayed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [delay, step] : delayed) {
            if (step) step();
        }
        delayed.clear();
    }
};

TEST(LaunchSequence, RunsEachStepOnceInOrder) {
    struct Case {
        bool testHost;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        // The spare comes last, after the launch's document had the machine
        // to itself.
        {false,
         {"migrate", "menus", "arm 2000", "arm 800", "arm 2500", "restore", "window state", "prewarm"}},
        // A test host has no migration and no draft restore; the launch hold
        // is still let go at the restore's moment.
        {true, {"menus", "arm 2000", "arm 800", "arm 2500", "release", "window state", "prewarm"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.testHost ? "test host" : "program");
        Recorder recorder;
        const auto steps = recorder.steps();
        LaunchSequence::willFinish(c.testHost, steps);
        LaunchSequence::didFinish(c.testHost, steps);
        recorder.fireAll();
        EXPECT_EQ(recorder.events, c.expected);
    }
}

TEST(LaunchSequence, StepsLeftUnsetAreSkipped) {
    LaunchSteps steps;
    std::vector<std::string> events;
    steps.installMenus = [&] { events.push_back("menus"); };
    LaunchSequence::willFinish(false, steps);
    LaunchSequence::didFinish(false, steps);
    EXPECT_EQ(events, std::vector<std::string>{"menus"});
}

}  // namespace
}  // namespace larkspin
