#include "App/ShellPolicy.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace larkspin {
namespace {

constexpr ShellWindow visibleGroup{true, true};
constexpr ShellWindow hiddenGroup{false, true};
constexpr ShellWindow visibleDialog{true, false};
constexpr ShellWindow hiddenSettings{false, false};

TEST(QuitRule, QuitsWhenNothingVisibleAndNothingHolds) {
    struct Case {
        const char* name;
        std::vector<ShellWindow> windows;
        int holds;
        bool quits;
    };
    const std::vector<Case> cases{
        {"no window, no hold", {}, 0, true},
        {"launch still held", {}, 1, false},
        {"a visible group window", {visibleGroup}, 0, false},
        {"an error dialog showing", {visibleDialog}, 0, false},
        {"a hidden settings window alone", {hiddenSettings}, 0, true},
        {"hidden windows only", {hiddenSettings, hiddenGroup}, 0, true},
        {"hidden settings and an open dialog held", {hiddenSettings}, 1, false},
        {"one visible among hidden", {hiddenSettings, visibleGroup}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QuitRule::shouldQuit(c.windows, c.holds), c.quits);
    }
}

TEST(QuitRule, OnlyTheLastVisibleGroupWindowsCloseIsAQuit) {
    struct Case {
        const char* name;
        std::vector<ShellWindow> others;
        ShellWindow closing;
        bool quit;
    };
    const std::vector<Case> cases{
        {"last group window", {}, visibleGroup, true},
        {"beside a hidden settings window", {hiddenSettings}, visibleGroup, true},
        {"another group window stays", {visibleGroup}, visibleGroup, false},
        {"a dialog stays visible", {visibleDialog}, visibleGroup, false},
        {"a dialog closing is never a quit", {}, visibleDialog, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QuitRule::closeIsQuit(c.others, c.closing), c.quit);
    }
}

TEST(ActivityTracker, ResignsOnceWhenFocusLeavesTheApplication) {
    struct Step {
        bool anyActive;  // some toplevel of ours (the open dialog too) has the focus
        bool resigned;
    };
    const std::vector<Step> steps{
        {false, false},  // never active yet: nothing to resign
        {true, false},   // a window gains the focus
        {true, false},   // moved to another of our windows, or to the open dialog
        {false, true},   // focus went to another program, the dialog still up or not
        {false, false},  // still inactive: no second flush
        {true, false},   // back again
        {false, true},   // and away
    };
    ActivityTracker tracker;
    int index = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(index++);
        EXPECT_EQ(tracker.update(step.anyActive), step.resigned);
        EXPECT_EQ(tracker.isActive(), step.anyActive);
    }
}

}  // namespace
}  // namespace larkspin
