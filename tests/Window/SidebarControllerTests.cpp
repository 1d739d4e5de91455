#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Async/Clock.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Window/SidebarController.hpp"

namespace larkspin {

namespace {

using namespace std::chrono_literals;

struct SidebarFixture : ::testing::Test {
    test::TempDir dir;
    UserDefaults defaults{dir / "preferences.json"};
    ManualClock clock;
};

TEST_F(SidebarFixture, TogglesResizesAndDividerCollapsesFollowTheNarrowRule) {
    enum class Op { toggle, resize, collapsedByUser, expandedByUser };
    struct Step {
        Op op;
        double width;
        bool visible;
        bool preferred;
        bool override_;
    };
    struct Case {
        const char* name;
        std::optional<bool> stored;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases{
        {"narrow window, preferred shown",
         std::nullopt,
         {{Op::resize, 899, false, true, false},
          {Op::toggle, 899, true, true, true},
          {Op::resize, 900, true, true, false},
          {Op::toggle, 1000, false, false, false}}},
        {"narrow override flips back",
         true,
         {{Op::toggle, 800, true, true, true}, {Op::toggle, 800, false, true, false}}},
        {"preferred hidden, narrow: toggle shows and widening keeps it",
         false,
         {{Op::resize, 700, false, false, false},
          {Op::toggle, 700, true, true, true},
          {Op::resize, 1200, true, true, false}}},
        {"divider collapse in a wide window counts as a toggle",
         true,
         {{Op::collapsedByUser, 1000, false, false, false},
          {Op::expandedByUser, 1000, true, true, false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.remove("sidebarVisible");
        if (c.stored) defaults.setBool("sidebarVisible", *c.stored);
        SidebarController sidebar(defaults, clock);
        for (const auto& step : c.steps) {
            bool visible = false;
            switch (step.op) {
                case Op::toggle: visible = sidebar.userToggled(step.width); break;
                case Op::resize: visible = sidebar.windowResized(step.width); break;
                case Op::collapsedByUser:
                case Op::expandedByUser:
                    EXPECT_TRUE(sidebar.collapsedChanged(step.op == Op::collapsedByUser, step.width));
                    visible = sidebar.isVisible(step.width);
                    break;
            }
            EXPECT_EQ(visible, step.visible) << step.width;
            EXPECT_EQ(sidebar.policy().preferredVisible, step.preferred) << step.width;
            EXPECT_EQ(sidebar.policy().narrowOverride, step.override_) << step.width;
            if (step.op != Op::resize) {
                EXPECT_EQ(defaults.value("sidebarVisible"), nlohmann::json(step.preferred));
            }
        }
    }
}

TEST_F(SidebarFixture, RestoredWidthAndLegacyMigration) {
    struct Case {
        std::optional<nlohmann::json> legacy;
        std::optional<nlohmann::json> user;
        double restored;
        std::optional<nlohmann::json> userAfter;
        bool legacyRemains;
    };
    const std::vector<Case> cases{
        {std::nullopt, std::nullopt, 260, std::nullopt, false},
        {std::nullopt, 179.9, 260, 179.9, false},
        {std::nullopt, 360.1, 260, 360.1, false},
        {std::nullopt, 180, 180, 180, false},
        {std::nullopt, 360, 360, 360, false},
        {std::nullopt, "wide", 260, "wide", false},
        // Earlier built-in widths are dropped, not carried over.
        {220, std::nullopt, 260, std::nullopt, false},
        {260, std::nullopt, 260, std::nullopt, false},
        {300, std::nullopt, 300, 300.0, false},
        {300, 200, 200, 200, false},
        // Moved unchecked, then out of range when read.
        {500, std::nullopt, 260, 500.0, false},
        {"300", std::nullopt, 260, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.legacy ? c.legacy->dump() : "-") << " "
                                        << (c.user ? c.user->dump() : "-"));
        defaults.remove("sidebarWidth");
        defaults.remove("sidebarUserWidth");
        if (c.legacy) defaults.setValue("sidebarWidth", *c.legacy);
        if (c.user) defaults.setValue("sidebarUserWidth", *c.user);
        SidebarController sidebar(defaults, clock);
        EXPECT_DOUBLE_EQ(sidebar.restoreWidth(), c.restored);
        EXPECT_EQ(defaults.value("sidebarUserWidth"), c.userAfter);
        EXPECT_EQ(defaults.contains("sidebarWidth"), c.legacyRemains);
    }
}

struct SidebarDragFixture : SidebarFixture {
    // Lets the settle task start and wait on the clock, then moves it on.
    void settleFor(SidebarController& sidebar, std::chrono::milliseconds step) {
        ASSERT_TRUE(test::runMainLoopUntil([&] { return clock.pendingTimerCount() == 1; }));
        clock.advance(step);
        if (clock.pendingTimerCount() == 0) {
            ASSERT_TRUE(test::runMainLoopUntil([&] { return !sidebar.hasPendingWidth(); }));
        }
    }
    std::optional<nlohmann::json> stored() { return defaults.value("sidebarUserWidth"); }
};

TEST_F(SidebarDragFixture, DragWritesOnceItSettles) {
    SidebarController sidebar(defaults, clock);
    sidebar.dividerMoved(200, false, false);
    settleFor(sidebar, 299ms);
    sidebar.dividerMoved(240, false, false);  // a later step restarts the wait
    settleFor(sidebar, 299ms);
    EXPECT_EQ(stored(), std::nullopt);
    clock.advance(1ms);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !sidebar.hasPendingWidth(); }));
    EXPECT_EQ(stored(), nlohmann::json(240.0));
}

TEST_F(SidebarDragFixture, WhatASettledDragWrites) {
    struct Case {
        double width;
        bool collapsed, animating;
        double expected;
    };
    const std::vector<Case> cases{
        {300, false, false, 300},    {300.4, false, false, 300},  {300.5, false, false, 300.5},
        {179, false, false, 300.5},  {361, false, false, 300.5},  {250, true, false, 300.5},
        {250, false, true, 300.5},
    };
    SidebarController sidebar(defaults, clock);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        sidebar.dividerMoved(c.width, c.collapsed, c.animating);
        if (sidebar.hasPendingWidth()) settleFor(sidebar, SidebarController::widthSettleDelay);
        EXPECT_EQ(stored(), nlohmann::json(c.expected));
    }
}

TEST_F(SidebarDragFixture, PageClosedMidDragKeepsTheWidth) {
    {
        SidebarController sidebar(defaults, clock);
        sidebar.dividerMoved(320, false, false);
    }
    EXPECT_EQ(stored(), nlohmann::json(320.0));
    EXPECT_TRUE(test::runMainLoopUntil([&] { return clock.pendingTimerCount() == 0; }, 50));
}

}  // namespace
}  // namespace larkspin
