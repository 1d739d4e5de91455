#include "App/ShellShortcuts.hpp"
#include "Window/FindRouting.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace larkspin {
namespace {

TEST(ShellShortcuts, TheProgramsTableIsFreeOfConflicts) {
    // As shipped, and with the editing keys of source editing.
    for (const bool editing : {false, true}) {
        SCOPED_TRACE(editing ? "source editing on" : "source editing off");
        ModeSwitch::setSourceEditingForTesting(editing);
        EXPECT_EQ(ShellShortcuts::conflicts(ShellShortcuts::all(), ShellShortcuts::reserved()),
                  std::vector<std::string>{});
    }
    ModeSwitch::setSourceEditingForTesting(false);
}

TEST(ShellShortcuts, TheTableHoldsTheWindowsAndTheViewKeys) {
    std::vector<std::string> keys;
    for (const auto& entry : ShellShortcuts::all()) {
        for (auto accelerator : entry.accelerators) {
            keys.push_back(std::string(entry.action) + "=" + ShellShortcuts::normalized(accelerator));
        }
    }
    for (const char* expected :
         {"win.show-find-bar=control+f", "win.toggle-sidebar=F9", "app.quit=control+q",
          "app.close=control+w", "app.increase-font-size=control+equal",
          "app.increase-font-size=control+KP_Add", "app.actual-size=control+KP_0",
          "app.toggle-wide-blocks=alt+control+w", "win.copy-file-path=alt+control+shift+c"}) {
        EXPECT_NE(std::find(keys.begin(), keys.end(), expected), keys.end()) << expected;
    }
}

TEST(ShellShortcuts, NormalizesSpellings) {
    struct Case {
        const char* accelerator;
        const char* normalized;
    };
    for (const auto& c : std::vector<Case>{
             {"<Control>a", "control+a"},
             {"<Primary>A", "control+a"},
             {"<Ctrl><Shift>G", "control+shift+g"},
             {"<Shift><Control>g", "control+shift+g"},
             {"<Mod1>1", "alt+1"},
             {"<Control>Page_Up", "control+Page_Up"},
             {"F1", "F1"},
         }) {
        EXPECT_EQ(ShellShortcuts::normalized(c.accelerator), c.normalized) << c.accelerator;
    }
}

TEST(ShellShortcuts, FindsSharedAndReservedKeys) {
    struct Case {
        const char* name;
        std::vector<ShellShortcuts::Entry> entries;
        std::size_t problems;
    };
    const std::vector<std::string_view> reserved{"<Control>a", "<Alt>1", "<Control>Page_Up"};
    const std::vector<Case> cases{
        {"distinct keys", {{"app.one", {"<Control>o"}}, {"app.two", {"<Control>p"}}}, 0},
        {"two actions, one key", {{"app.one", {"<Control>o"}}, {"app.two", {"<Primary>O"}}}, 1},
        {"one action lists a key twice", {{"app.one", {"<Control>o", "<Ctrl>o"}}}, 1},
        {"a text entry's key", {{"app.select", {"<Primary>a"}}}, 1},
        {"the tab view's key", {{"app.first", {"<Mod1>1"}}, {"app.page", {"<Ctrl>Page_Up"}}}, 2},
        {"Shift makes another key", {{"app.one", {"<Shift><Control>a"}}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ShellShortcuts::conflicts(c.entries, reserved).size(), c.problems);
    }
}

}  // namespace
}  // namespace larkspin
