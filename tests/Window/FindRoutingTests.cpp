#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Window/FindRouting.hpp"
#include "Window/WindowActions.hpp"

namespace larkspin {

namespace {

constexpr auto reading = DocumentMode::reading;
constexpr auto editing = DocumentMode::editing;

TEST(FindRouting, RoutesAndValidatesByTag) {
    struct Case {
        DocumentMode mode;
        bool hasEditor;
        std::optional<std::int64_t> tag;
        FindRoute route;
        bool enabled;
    };
    const std::vector<Case> cases{
        {reading, false, 1, FindRoute::showFindBar, true},
        {reading, false, 2, FindRoute::findNext, true},
        {reading, false, 3, FindRoute::findPrevious, true},
        {reading, false, 4, FindRoute::showFindBar, false},
        {reading, false, 7, FindRoute::useSelection, true},
        {reading, false, 12, FindRoute::showFindBar, false},
        {reading, false, -2, FindRoute::showFindBar, true},
        {reading, false, std::nullopt, FindRoute::showFindBar, true},
        {reading, true, 2, FindRoute::findNext, true},  // a kept editor, hidden
        {editing, true, 4, FindRoute::forwardToEditor, true},
        {editing, true, std::nullopt, FindRoute::forwardToEditor, true},
        {editing, false, 2, FindRoute::findNext, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << rawValue(c.mode) << " editor=" << c.hasEditor
                                        << " tag=" << c.tag.value_or(-99));
        EXPECT_EQ(FindRouting::route(c.mode, c.hasEditor, c.tag), c.route);
        if (c.tag) {
            EXPECT_EQ(FindRouting::isEnabled(c.mode, *c.tag), c.enabled);
        }
    }
}

TEST(FindRouting, SelectionQuery) {
    EXPECT_EQ(FindRouting::selectionQuery(" \n\t \n"), std::nullopt);
    EXPECT_EQ(FindRouting::selectionQuery(""), std::nullopt);
    EXPECT_EQ(FindRouting::selectionQuery("  word \n"), "word");
    EXPECT_EQ(FindRouting::selectionQuery("\u3000两个 词\u00a0"), "两个 词");
}

TEST(WindowActions, ActionsRouteFindCommandsAndValidate) {
    DocumentMode mode = reading;
    bool hasEditor = false;
    int toggles = 0;
    std::vector<std::pair<FindRoute, std::int64_t>> routed;
    WindowActionHandlers handlers;
    handlers.toggleSidebar = [&] { ++toggles; };
    handlers.find = [&](FindRoute route, std::int64_t tag) { routed.emplace_back(route, tag); };
    handlers.mode = [&] { return mode; };
    handlers.hasEditor = [&] { return hasEditor; };
    const auto table = WindowActions::make(std::move(handlers));

    for (const auto name : {"show-find-bar", "find-next", "find-previous", "use-selection-for-find"}) {
        EXPECT_TRUE(table.activate(name)) << name;
        EXPECT_TRUE(table.validate(name).enabled) << name;
    }
    mode = editing;
    hasEditor = true;
    EXPECT_TRUE(table.activate("find-next"));
    EXPECT_TRUE(table.activate("toggle-sidebar"));
    const std::vector<std::pair<FindRoute, std::int64_t>> expected{
        {FindRoute::showFindBar, 1},
        {FindRoute::findNext, 2},
        {FindRoute::findPrevious, 3},
        {FindRoute::useSelection, 7},
        {FindRoute::forwardToEditor, 2},
    };
    EXPECT_EQ(routed, expected);
    EXPECT_EQ(toggles, 1);

}

}  // namespace
}  // namespace larkspin
