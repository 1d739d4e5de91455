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

// The build switch for one test, turned off again however the test ends.
struct SourceEditingSwitch {
    explicit SourceEditingSwitch(bool on) { ModeSwitch::setSourceEditingForTesting(on); }
    ~SourceEditingSwitch() { ModeSwitch::setSourceEditingForTesting(false); }
};

TEST(WindowActions, EditingActionsExistOnlyWithSourceEditingOn) {
    for (const bool on : {false, true}) {
        SCOPED_TRACE(on ? "switch on" : "switch off");
        SourceEditingSwitch editingSwitch(on);
        WindowActionHandlers handlers;
        handlers.toggleEditing = [] {};
        handlers.editHere = [] {};
        handlers.toggleLineNumbers = [] {};
        const auto table = WindowActions::make(std::move(handlers));
        for (const auto name : {WindowActions::toggleEditing, WindowActions::editHere,
                                WindowActions::toggleLineNumbers}) {
            EXPECT_EQ(table.find(name) != nullptr, on) << name;
        }
    }
}

TEST(WindowActions, EditingActionsFollowTheModeAndTheLineNumbers) {
    SourceEditingSwitch editingSwitch(true);
    DocumentMode mode = reading;
    bool showsNumbers = false;
    std::vector<std::string> calls;
    WindowActionHandlers handlers;
    handlers.mode = [&] { return mode; };
    handlers.toggleEditing = [&] { calls.push_back("toggle"); };
    handlers.editHere = [&] { calls.push_back("here"); };
    handlers.toggleLineNumbers = [&] {
        showsNumbers = !showsNumbers;
        calls.push_back("numbers");
    };
    handlers.showsLineNumbers = [&] { return showsNumbers; };
    const auto table = WindowActions::make(std::move(handlers));

    struct Step {
        DocumentMode mode;
        const char* action;
        bool editHereEnabled;
        MenuItemState numbersAfter;
        const char* call;  // what the action did; empty for nothing
    };
    const std::vector<Step> steps{
        {reading, "edit-here", true, MenuItemState::off, "here"},
        {editing, "edit-here", false, MenuItemState::off, ""},  // editing: edit here does nothing
        {editing, "toggle-editing", false, MenuItemState::off, "toggle"},
        {editing, "toggle-line-numbers", false, MenuItemState::on, "numbers"},
        {reading, "toggle-line-numbers", true, MenuItemState::off, "numbers"},
        {reading, "toggle-editing", true, MenuItemState::off, "toggle"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.action);
        mode = step.mode;
        calls.clear();
        EXPECT_TRUE(table.activate(step.action));
        EXPECT_EQ(calls, *step.call ? std::vector<std::string>{step.call} : std::vector<std::string>{});
        EXPECT_EQ(table.validate("edit-here").enabled, step.editHereEnabled);
        EXPECT_EQ(table.validate("toggle-line-numbers"),
                  (MenuItemValidation{true, step.numbersAfter}));
    }
}

}  // namespace
}  // namespace larkspin
