#include "App/ShellPolicy.hpp"

#include <gtest/gtest.h>

#include <string>
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

// However many files could not be opened, the message names the first few as
// they are and counts the rest, so that it fits on a screen.
TEST(OpenFailures, TheMessageNamesTheFirstFewAndCountsTheRest) {
    std::vector<std::string> failures;
    for (int index = 0; index < 1000; ++index) failures.push_back("找不到文件“/d/f" + std::to_string(index) + ".md”。");
    const std::string message = OpenFailures::message(failures);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = message.find('\n', start);
        lines.push_back(message.substr(start, end == std::string::npos ? end : end - start));
    }
    ASSERT_EQ(lines.size(), OpenFailures::namedAtMost + 1) << message;
    for (std::size_t index = 0; index < OpenFailures::namedAtMost; ++index) EXPECT_EQ(lines[index], failures[index]);
    EXPECT_EQ(lines.back(), "另有 995 个文件也无法打开。");

    // As many as are named: each of them, and nothing more.
    failures.resize(OpenFailures::namedAtMost);
    EXPECT_EQ(OpenFailures::message(failures).find("另有"), std::string::npos);
    EXPECT_EQ(OpenFailures::message({"one", "two"}), "one\ntwo");
}

// The checks of the files named end on the workers in any order: the
// message names them in the order named, so that the first named is among
// those named even when its check ended last.
TEST(OpenFailures, TheListNamesTheFailuresInTheOrderTheFilesWereNamed) {
    OpenFailureList list;
    EXPECT_TRUE(list.empty());
    for (std::uint64_t order : {2, 3, 4, 5, 6, 7}) list.add(order, "nothere" + std::to_string(order));
    list.add(1, "nothere1");
    EXPECT_FALSE(list.empty());
    EXPECT_EQ(list.take(), "nothere1\nnothere2\nnothere3\nnothere4\nnothere5\n另有 2 个文件也无法打开。");
    EXPECT_TRUE(list.empty()) << "said once";
    EXPECT_EQ(list.take(), "");
}

}  // namespace
}  // namespace larkspin
