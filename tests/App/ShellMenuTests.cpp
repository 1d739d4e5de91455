#include "App/ShellMenu.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "App/AppActions.hpp"
#include "App/ShellShortcuts.hpp"
#include "Appearance/Actions/AppearanceActions.hpp"
#include "Window/FilePathMenu.hpp"
#include "Window/WindowActions.hpp"

namespace larkspin {
namespace {

struct MenuItem {
    std::string action;
    std::string target;  // empty without one
};

void collect(GMenuModel* model, std::vector<MenuItem>& items) {
    for (int index = 0; index < g_menu_model_get_n_items(model); ++index) {
        gchar* action = nullptr;
        if (g_menu_model_get_item_attribute(model, index, G_MENU_ATTRIBUTE_ACTION, "s", &action)) {
            MenuItem item{action, {}};
            g_free(action);
            if (GVariant* target = g_menu_model_get_item_attribute_value(
                    model, index, G_MENU_ATTRIBUTE_TARGET, G_VARIANT_TYPE_STRING)) {
                item.target = g_variant_get_string(target, nullptr);
                g_variant_unref(target);
            }
            items.push_back(std::move(item));
        }
        for (const char* link : {G_MENU_LINK_SECTION, G_MENU_LINK_SUBMENU}) {
            if (GMenuModel* child = g_menu_model_get_item_link(model, index, link)) {
                collect(child, items);
                g_object_unref(child);
            }
        }
    }
}

std::vector<MenuItem> itemsOf(GMenuModel* model) {
    std::vector<MenuItem> items;
    collect(model, items);
    return items;
}

// Every action the menu may name: the application's, the appearance menus'
// and a group window's.
std::set<std::string> knownActions() {
    std::set<std::string> known;
    const ActionTable application = AppActions::make({});
    for (const auto& action : application.all()) known.insert("app." + std::string(action.name));
    for (auto name : {AppearanceActions::selectTheme, AppearanceActions::selectAppearanceMode,
                      AppearanceActions::increaseFontSize, AppearanceActions::decreaseFontSize,
                      AppearanceActions::actualSize, AppearanceActions::selectWidthPreset,
                      AppearanceActions::selectLineHeightPreset, AppearanceActions::toggleWideBlocks,
                      AppearanceActions::showBodyFontPanel, AppearanceActions::showMonoFontPanel,
                      AppearanceActions::restoreThemeTypography,
                      AppearanceActions::restoreAllAppearanceDefaults}) {
        known.insert("app." + std::string(name));
    }
    for (auto name : {WindowActions::toggleSidebar, WindowActions::showFindBar, WindowActions::findNext,
                      WindowActions::findPrevious, WindowActions::useSelectionForFind,
                      WindowActions::toggleEditing, WindowActions::editHere,
                      WindowActions::toggleLineNumbers}) {
        known.insert("win." + std::string(name));
    }
    known.insert(std::string(FilePathMenu::copyPathAction));
    known.insert(std::string(FilePathMenu::revealAction));
    return known;
}

TEST(ShellMenu, NamesOnlyActionsThatExistAndReachesEveryShortcut) {
    auto recent = GObjectPtr<GMenu>::adopt(g_menu_new());
    auto menu = ShellMenu::make(G_MENU_MODEL(recent.get()));
    const auto items = itemsOf(G_MENU_MODEL(menu.get()));
    const auto known = knownActions();
    std::set<std::string> shown;
    for (const auto& item : items) {
        EXPECT_TRUE(known.contains(item.action)) << item.action;
        shown.insert(item.action);
    }
    // A shortcut whose action has no menu item would be undiscoverable.
    for (const auto& entry : ShellShortcuts::all()) {
        EXPECT_TRUE(shown.contains(std::string(entry.action))) << entry.action;
    }
    // The application's own items, each once.
    for (auto name : {AppActions::about, AppActions::settings, AppActions::quit, AppActions::open,
                      AppActions::close, AppActions::save, AppActions::saveAs, AppActions::revert,
                      AppActions::help}) {
        const std::string action = "app." + std::string(name);
        EXPECT_EQ(std::count_if(items.begin(), items.end(),
                                [&](const MenuItem& item) { return item.action == action; }),
                  1)
            << action;
    }
}

TEST(ShellMenu, RadioItemsCarryTheirTargetsInOrder) {
    auto recent = GObjectPtr<GMenu>::adopt(g_menu_new());
    auto menu = ShellMenu::make(G_MENU_MODEL(recent.get()));
    const auto items = itemsOf(G_MENU_MODEL(menu.get()));
    auto targetsOf = [&](std::string_view action) {
        std::vector<std::string> targets;
        for (const auto& item : items) {
            if (item.action == "app." + std::string(action)) targets.push_back(item.target);
        }
        return targets;
    };
    EXPECT_EQ(targetsOf(AppearanceActions::selectAppearanceMode),
              (std::vector<std::string>{"system", "light", "dark"}));
    // Light themes first, then dark ones.
    EXPECT_EQ(targetsOf(AppearanceActions::selectTheme),
              (std::vector<std::string>{"porcelain", "linen", "mist", "graphite", "midnight", "forest"}));
    EXPECT_EQ(targetsOf(AppearanceActions::selectWidthPreset),
              (std::vector<std::string>{"comfortable", "compact", "wide"}));
    EXPECT_EQ(targetsOf(AppearanceActions::selectLineHeightPreset),
              (std::vector<std::string>{"standard", "compact", "loose"}));
}

TEST(ShellMenu, EditingItemsAndKeysExistOnlyWithSourceEditingOn) {
    const std::set<std::string> editingActions{"win.toggle-editing", "win.edit-here",
                                               "win.toggle-line-numbers"};
    for (const bool on : {false, true}) {
        SCOPED_TRACE(on ? "switch on" : "switch off");
        ModeSwitch::setSourceEditingForTesting(on);
        auto recent = GObjectPtr<GMenu>::adopt(g_menu_new());
        auto menu = ShellMenu::make(G_MENU_MODEL(recent.get()));
        std::set<std::string> shown;
        for (const auto& item : itemsOf(G_MENU_MODEL(menu.get()))) shown.insert(item.action);
        for (const auto& action : editingActions) EXPECT_EQ(shown.contains(action), on) << action;
        // Every key has its item.
        std::set<std::string> keyed;
        for (const auto& entry : ShellShortcuts::all()) {
            EXPECT_TRUE(shown.contains(std::string(entry.action))) << entry.action;
            keyed.insert(std::string(entry.action));
        }
        EXPECT_EQ(keyed.contains("win.toggle-editing"), on);
        EXPECT_EQ(keyed.contains("win.edit-here"), on);
    }
    ModeSwitch::setSourceEditingForTesting(false);
}

TEST(ShellMenu, RecentSubmenuIsRefilledWithPaths) {
    auto recent = GObjectPtr<GMenu>::adopt(g_menu_new());
    ShellMenu::fillRecent(recent.get(), {"/notes/a b.md", "/notes/c.md"});
    ShellMenu::fillRecent(recent.get(), {"/notes/d.md"});
    const auto items = itemsOf(G_MENU_MODEL(recent.get()));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].action, "app.open-recent");
    EXPECT_EQ(items[0].target, "/notes/d.md");
}

}  // namespace
}  // namespace larkspin
