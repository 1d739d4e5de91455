#include <gio/gio.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
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

class AppearanceActionsTest : public ::testing::Test {
protected:
    test::TempDir dir;
    UserDefaults defaults{dir / "prefs.json"};
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    std::shared_ptr<test::FakeDesktopAppearance> desktop =
        std::make_shared<test::FakeDesktopAppearance>();
    AppearanceController appearance{defaults, *center, desktop};
    TypographyController typography{defaults, *center, TypographyController::FontSource{}};
    test::FakeFontPanel panel;
    AppearanceActions actions{appearance, typography, panel};
    test::NotificationRecorder appearancePosts{
        *center, std::string(AppearanceController::didChangeNotification)};
    test::NotificationRecorder typographyPosts{
        *center, std::string(TypographyController::didChangeNotification)};

    std::optional<MenuItemState> mark(std::string_view action, const char* target) {
        return actions.validate(action, target ? Target(target) : std::nullopt).state;
    }
    bool enabled(std::string_view action) { return actions.validate(action).enabled; }
};

struct MarkCase {
    std::string_view action;
    const char* target;  // null: an item without a target
    std::optional<MenuItemState> expected;
};

TEST_F(AppearanceActionsTest, ThemeItemsShowBothSlotsAndModeItemsTheMode) {
    actions.activate(A::selectTheme, "mist");    // light slot; the desktop is light: mode stays
    actions.activate(A::selectTheme, "forest");  // dark slot: mode becomes dark
    ASSERT_EQ(appearance.currentThemeID(), ThemeID::forest);
    const MarkCase cases[] = {
        {A::selectTheme, "forest", MenuItemState::on},
        {A::selectTheme, "mist", MenuItemState::mixed},  // the other appearance's pick
        {A::selectTheme, "porcelain", MenuItemState::off},
        {A::selectTheme, "unknown", std::nullopt},
        {A::selectTheme, nullptr, std::nullopt},
        {A::selectAppearanceMode, "dark", MenuItemState::on},
        {A::selectAppearanceMode, "system", MenuItemState::off},
        {A::selectAppearanceMode, "forest", std::nullopt},
        {"no-such-action", "dark", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mark(c.action, c.target), c.expected)
            << c.action << " " << (c.target ? c.target : "(none)");
        EXPECT_TRUE(actions.validate(c.action, c.target ? Target(c.target) : std::nullopt).enabled);
    }
}

TEST_F(AppearanceActionsTest, TargetsThatNameNothingDoNothing) {
    for (const Target& target : {Target(), Target("sepia"), Target("Light"), Target("")}) {
        for (auto action : {A::selectTheme, A::selectAppearanceMode, A::selectWidthPreset,
                            A::selectLineHeightPreset}) {
            EXPECT_TRUE(actions.activate(action, target));
        }
    }
    EXPECT_TRUE(appearancePosts.senders.empty());
    EXPECT_TRUE(typographyPosts.senders.empty());
    EXPECT_TRUE(defaults.storedValues().empty());

    EXPECT_FALSE(actions.activate("no-such-action"));
    EXPECT_EQ(actions.validate("no-such-action"), (MenuItemValidation{true, std::nullopt}));

    actions.activate(A::selectAppearanceMode, "light");
    actions.activate(A::selectTheme, "graphite");
    EXPECT_EQ(appearance.currentThemeID(), ThemeID::graphite);
    EXPECT_EQ(appearancePosts.senders.size(), 2u);
}

TEST_F(AppearanceActionsTest, TypographyItemsFollowTheSettings) {
    // The defaults: only the size steps are enabled, and the default presets checked.
    const MarkCase atDefaults[] = {
        {A::selectWidthPreset, "comfortable", MenuItemState::on},
        {A::selectWidthPreset, "wide", MenuItemState::off},
        {A::selectWidthPreset, "WIDE", MenuItemState::off},
        {A::selectWidthPreset, nullptr, MenuItemState::off},
        {A::selectLineHeightPreset, "standard", MenuItemState::on},
        {A::toggleWideBlocks, nullptr, MenuItemState::off},
        {A::increaseFontSize, nullptr, std::nullopt},
        {A::showMonoFontPanel, nullptr, std::nullopt},
    };
    for (const auto& c : atDefaults) {
        EXPECT_EQ(mark(c.action, c.target), c.expected)
            << c.action << " " << (c.target ? c.target : "(none)");
    }
    EXPECT_FALSE(enabled(A::actualSize));
    EXPECT_FALSE(enabled(A::restoreThemeTypography));
    // Families and weight are not the theme's typography.
    typography.setFontWeight(700);
    typography.setFamily("Code", TypographyController::FontRole::body);
    EXPECT_FALSE(enabled(A::restoreThemeTypography));

    actions.activate(A::selectWidthPreset, "wide");
    actions.activate(A::selectLineHeightPreset, "compact");
    actions.activate(A::toggleWideBlocks);
    const MarkCase changed[] = {
        {A::selectWidthPreset, "wide", MenuItemState::on},
        {A::selectWidthPreset, "comfortable", MenuItemState::off},
        {A::selectLineHeightPreset, "compact", MenuItemState::on},
        {A::toggleWideBlocks, nullptr, MenuItemState::on},
    };
    for (const auto& c : changed) {
        EXPECT_EQ(mark(c.action, c.target), c.expected)
            << c.action << " " << (c.target ? c.target : "(none)");
    }
    EXPECT_TRUE(enabled(A::restoreThemeTypography));
    actions.activate(A::toggleWideBlocks);
    EXPECT_EQ(typography.settings().wideBlocks, WideBlockMode::aligned);
    actions.activate(A::restoreThemeTypography);
    EXPECT_FALSE(enabled(A::restoreThemeTypography));
    EXPECT_EQ(typography.settings().fontWeight, 700);
}

TEST_F(AppearanceActionsTest, SizeItemsStopAtTheLimits) {
    typography.setFontSize(23);
    actions.activate(A::increaseFontSize);
    EXPECT_EQ(typography.settings().fontSizePx, 24);
    EXPECT_FALSE(enabled(A::increaseFontSize));
    EXPECT_TRUE(enabled(A::decreaseFontSize));
    EXPECT_TRUE(enabled(A::actualSize));
    const auto revision = typography.revision();
    actions.activate(A::increaseFontSize);
    EXPECT_EQ(typography.revision(), revision);

    typography.setFontSize(14);
    actions.activate(A::decreaseFontSize);
    actions.activate(A::decreaseFontSize);
    EXPECT_EQ(typography.settings().fontSizePx, 13);
    EXPECT_FALSE(enabled(A::decreaseFontSize));
    actions.activate(A::actualSize);
    EXPECT_EQ(typography.settings().fontSizePx, 16);
    EXPECT_FALSE(enabled(A::actualSize));
}

TEST_F(AppearanceActionsTest, FontPanelItemsShowThePanelInFrontForTheirRole) {
    actions.activate(A::showMonoFontPanel);
    EXPECT_EQ(panel.presented, 1);
    EXPECT_TRUE(panel.monospace);
    EXPECT_TRUE(panel.front);
    panel.choose({"Code", "Code-Regular", 400});
    EXPECT_EQ(typography.settings().monoFamily, "Code");

    actions.activate(A::showBodyFontPanel);
    EXPECT_FALSE(panel.monospace);
    panel.choose({"Wide Grotesk", "WideGrotesk-Bold", 700});
    EXPECT_EQ(typography.settings().bodyFamily, "\"Wide Grotesk\"");
    EXPECT_EQ(typography.settings().fontWeight, 700);
}

TEST_F(AppearanceActionsTest, RestoringAllDefaultsClearsTheControllersStore) {
    appearance.select(ThemeID::midnight);
    appearance.select(ThemeID::linen);
    typography.setFontSize(20);
    actions.activate(A::restoreAllAppearanceDefaults);
    EXPECT_EQ(defaults.storedValues(), (nlohmann::json{{"appearanceMode", "system"}}));
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
