#include <gio/gio.h>
#include <gtest/gtest.h>

#include <set>

#include "Appearance/Actions/AppearanceActions.hpp"
#include "Appearance/AppearanceController.hpp"
#include "Appearance/AppearanceTestSupport.hpp"
#include "Appearance/TypographyController.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using A = AppearanceActions;
using Target = AppAction::Target;

struct Item {
    std::string_view action;
    const char* target;  // null: an item without a target
    std::optional<MenuItemState> mark;
    bool enabled = true;
};

class AppearanceActionsTest : public ::testing::Test {
protected:
    test::TempDir dir;
    UserDefaults defaults{dir / "prefs.json"};
    // Writes run on a queue: let them end before the folder goes.
    void TearDown() override { EXPECT_TRUE(defaults.drainForTesting()); }
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    AppearanceController appearance{defaults, *center, nullptr};
    TypographyController typography{defaults, *center, TypographyController::FontSource{}};
    test::FakeFontPanel panel;
    AppearanceActions actions{appearance, typography, panel};

    void expectItems(std::initializer_list<Item> items) {
        for (const auto& item : items) {
            const auto shown =
                actions.validate(item.action, item.target ? Target(item.target) : std::nullopt);
            EXPECT_EQ(shown, (MenuItemValidation{item.enabled, item.mark}))
                << item.action << " " << (item.target ? item.target : "(none)");
        }
    }
};

TEST_F(AppearanceActionsTest, ThemeAndModeItemsShowBothSlotsAndTheMode) {
    actions.activate(A::selectTheme, "mist");    // light slot; the desktop is light: mode stays
    actions.activate(A::selectTheme, "forest");  // dark slot: mode becomes dark
    ASSERT_EQ(appearance.currentThemeID(), ThemeID::forest);
    expectItems({{A::selectTheme, "forest", MenuItemState::on},
                 {A::selectTheme, "mist", MenuItemState::mixed},  // the other appearance's pick
                 {A::selectTheme, "porcelain", MenuItemState::off},
                 {A::selectTheme, "unknown", std::nullopt},
                 {A::selectAppearanceMode, "dark", MenuItemState::on},
                 {A::selectAppearanceMode, "system", MenuItemState::off},
                 {"no-such-action", "dark", std::nullopt}});
    actions.activate(A::selectAppearanceMode, "light");
    EXPECT_EQ(appearance.currentThemeID(), ThemeID::mist);
}

TEST_F(AppearanceActionsTest, TargetsThatNameNothingDoNothing) {
    for (const Target& target : {Target(), Target("sepia"), Target("Light"), Target("")}) {
        for (auto action : {A::selectTheme, A::selectAppearanceMode, A::selectWidthPreset,
                            A::selectLineHeightPreset}) {
            EXPECT_TRUE(actions.activate(action, target));
        }
    }
    EXPECT_FALSE(actions.activate("no-such-action"));
    EXPECT_TRUE(defaults.storedValues().empty());
}

TEST_F(AppearanceActionsTest, TypographyItemsFollowTheSettings) {
    // The defaults: the size steps up and down enabled, the default presets checked.
    expectItems({{A::selectWidthPreset, "comfortable", MenuItemState::on},
                 {A::selectWidthPreset, "WIDE", MenuItemState::off},
                 {A::selectLineHeightPreset, "standard", MenuItemState::on},
                 {A::toggleWideBlocks, nullptr, MenuItemState::off},
                 {A::increaseFontSize, nullptr, std::nullopt},
                 {A::actualSize, nullptr, std::nullopt, false},
                 {A::restoreThemeTypography, nullptr, std::nullopt, false}});
    actions.activate(A::selectWidthPreset, "wide");
    actions.activate(A::selectLineHeightPreset, "compact");
    actions.activate(A::toggleWideBlocks);
    expectItems({{A::selectWidthPreset, "wide", MenuItemState::on},
                 {A::selectLineHeightPreset, "compact", MenuItemState::on},
                 {A::toggleWideBlocks, nullptr, MenuItemState::on},
                 {A::restoreThemeTypography, nullptr, std::nullopt}});
    actions.activate(A::toggleWideBlocks);
    EXPECT_EQ(typography.settings().wideBlocks, WideBlockMode::aligned);
    actions.activate(A::restoreThemeTypography);
    EXPECT_EQ(typography.settings(), TypographySettings::defaults);
}

TEST_F(AppearanceActionsTest, SizeItemsStopAtTheLimits) {
    typography.setFontSize(23);
    actions.activate(A::increaseFontSize);
    actions.activate(A::increaseFontSize);
    EXPECT_EQ(typography.settings().fontSizePx, 24);
    expectItems({{A::increaseFontSize, nullptr, std::nullopt, false},
                 {A::decreaseFontSize, nullptr, std::nullopt}});

    typography.setFontSize(14);
    actions.activate(A::decreaseFontSize);
    actions.activate(A::decreaseFontSize);
    EXPECT_EQ(typography.settings().fontSizePx, 13);
    expectItems({{A::decreaseFontSize, nullptr, std::nullopt, false},
                 {A::actualSize, nullptr, std::nullopt}});
    actions.activate(A::actualSize);
    EXPECT_EQ(typography.settings().fontSizePx, 16);
}

TEST_F(AppearanceActionsTest, PanelsAndRestoringAll) {
    for (auto [action, role] : {std::pair{A::showMonoFontPanel, TypographyFontRole::mono},
                                {A::showBodyFontPanel, TypographyFontRole::body}}) {
        actions.activate(action);
        EXPECT_EQ(typography.fontPanelRole(), role);
        EXPECT_EQ(panel.monospace, role == TypographyFontRole::mono);
        EXPECT_TRUE(panel.front);
    }

    appearance.select(ThemeID::midnight);
    typography.setFontSize(20);
    actions.activate(A::restoreAllAppearanceDefaults);
    EXPECT_EQ(appearance.currentThemeID(), ThemeID::porcelain);
    EXPECT_EQ(typography.settings(), TypographySettings::defaults);
}

TEST_F(AppearanceActionsTest, NamesAreDistinctGActionNames) {
    std::set<std::string_view> names;
    for (const auto& action : actions.all()) {
        EXPECT_TRUE(g_action_name_is_valid(std::string(action.name).c_str())) << action.name;
        EXPECT_TRUE(names.insert(action.name).second) << action.name;
        EXPECT_EQ(actions.find(action.name), &action);
    }
}

}  // namespace
}  // namespace larkspin
