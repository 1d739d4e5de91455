#include <gtest/gtest.h>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/AppearanceTestSupport.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

class AppearanceControllerTest : public ::testing::Test {
protected:
    test::TempDir dir;
    UserDefaults defaults{dir / "prefs.json"};
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    std::shared_ptr<test::FakeDesktopAppearance> desktop =
        std::make_shared<test::FakeDesktopAppearance>();
    AppearanceController controller{defaults, *center, desktop};
    test::NotificationRecorder posts{*center,
                                     std::string(AppearanceController::didChangeNotification)};

    // Switches the desktop and forgets the announcement that follows.
    void switchDesktop(bool dark) {
        desktop->setDark(dark);
        posts.senders.clear();
    }
};

TEST_F(AppearanceControllerTest, DefaultsFollowTheDesktop) {
    EXPECT_EQ(controller.mode(), AppearanceMode::system);
    EXPECT_EQ(controller.currentThemeID(), ThemeID::porcelain);
    EXPECT_EQ(controller.effectiveAppearance(), ThemeAppearance::light);
    switchDesktop(true);
    EXPECT_EQ(controller.currentThemeID(), ThemeID::graphite);
    EXPECT_EQ(controller.currentTheme().id, ThemeID::graphite);

    // Without a desktop source the desktop counts as light.
    AppearanceController headless(defaults, *center, nullptr);
    EXPECT_EQ(headless.currentThemeID(), ThemeID::porcelain);
}

TEST_F(AppearanceControllerTest, StoredValuesOfTheWrongKindFallBackWithoutRewriting) {
    defaults.setString("selectedDarkThemeID", "linen");   // a light theme in the dark slot
    defaults.setString("selectedLightThemeID", "sepia");  // no such theme
    defaults.setString("appearanceMode", "Dark");         // letter case counts
    EXPECT_EQ(controller.selectedDarkThemeID(), ThemeID::graphite);
    EXPECT_EQ(controller.selectedLightThemeID(), ThemeID::porcelain);
    EXPECT_EQ(controller.mode(), AppearanceMode::system);
    EXPECT_EQ(defaults.string("selectedDarkThemeID"), "linen");
    EXPECT_EQ(defaults.string("appearanceMode"), "Dark");
    EXPECT_TRUE(posts.senders.empty());
}

TEST_F(AppearanceControllerTest, PickingAThemeOfTheOtherAppearanceSwitchesTheMode) {
    test::LogCapture capture;
    controller.select(ThemeID::midnight);
    EXPECT_EQ(defaults.string("selectedDarkThemeID"), "midnight");
    EXPECT_EQ(defaults.string("appearanceMode"), "dark");
    EXPECT_FALSE(defaults.contains("selectedLightThemeID"));
    EXPECT_EQ(controller.currentThemeID(), ThemeID::midnight);
    EXPECT_EQ(posts.senders, (std::vector<const void*>{&controller}));
    EXPECT_EQ(controller.themeRevision(), 1);
    EXPECT_EQ(controller.lastBroadcastThemeID(), ThemeID::midnight);
    EXPECT_TRUE(capture.contains("document", "选择 midnight 主题，外观模式同步改为 dark"));
    EXPECT_TRUE(
        capture.contains("document", "外观变化（选择主题 midnight）：主题 midnight revision=1"));

    // From dark, a light theme switches to light.
    controller.select(ThemeID::linen);
    EXPECT_EQ(defaults.string("selectedLightThemeID"), "linen");
    EXPECT_EQ(defaults.string("appearanceMode"), "light");
    EXPECT_EQ(defaults.string("selectedDarkThemeID"), "midnight");
    EXPECT_EQ(controller.currentThemeID(), ThemeID::linen);
    EXPECT_EQ(controller.themeRevision(), 2);
}

TEST_F(AppearanceControllerTest, PickingAThemeOfTheAppearanceInForceKeepsSystemMode) {
    switchDesktop(true);
    controller.select(ThemeID::forest);
    EXPECT_EQ(defaults.string("selectedDarkThemeID"), "forest");
    EXPECT_FALSE(defaults.contains("appearanceMode"));
    EXPECT_EQ(controller.mode(), AppearanceMode::system);
    EXPECT_EQ(controller.currentThemeID(), ThemeID::forest);
    EXPECT_EQ(posts.senders.size(), 1u);
}

TEST_F(AppearanceControllerTest, SelectingAModeAlwaysAnnounces) {
    test::LogCapture capture;
    controller.select(AppearanceMode::system);
    controller.select(AppearanceMode::system);
    EXPECT_EQ(posts.senders.size(), 2u);
    EXPECT_EQ(controller.themeRevision(), 2);
    EXPECT_EQ(defaults.string("appearanceMode"), "system");
    EXPECT_TRUE(
        capture.contains("document", "外观变化（外观模式 system）：主题 porcelain revision=2"));
    controller.select(AppearanceMode::dark);
    EXPECT_EQ(controller.currentThemeID(), ThemeID::graphite);
}

TEST_F(AppearanceControllerTest, FollowsDesktopChangesOnlyWhenTheThemeChanges) {
    // Nothing announced yet: the first desktop change announces.
    desktop->setDark(false);
    EXPECT_EQ(posts.senders.size(), 1u);
    desktop->setDark(true);
    EXPECT_EQ(posts.senders.size(), 2u);
    EXPECT_EQ(controller.lastBroadcastThemeID(), ThemeID::graphite);
    desktop->setDark(true);  // the same answer again
    EXPECT_EQ(posts.senders.size(), 2u);

    // A forced mode ignores the desktop.
    controller.select(AppearanceMode::light);
    posts.senders.clear();
    desktop->setDark(false);
    desktop->setDark(true);
    EXPECT_TRUE(posts.senders.empty());
    EXPECT_EQ(controller.currentThemeID(), ThemeID::porcelain);
}

TEST_F(AppearanceControllerTest, StopsFollowingTheDesktopWhenDestroyed) {
    auto shortLived = std::make_unique<AppearanceController>(defaults, *center, desktop);
    shortLived.reset();
    desktop->setDark(true);  // only the fixture's controller hears it
    EXPECT_EQ(posts.senders, (std::vector<const void*>{&controller}));
}

TEST(AppearanceMode, RawValuesAndNames) {
    EXPECT_EQ(appearanceModeFromRaw("system"), AppearanceMode::system);
    EXPECT_EQ(appearanceModeFromRaw("auto"), std::nullopt);
    EXPECT_EQ(localizedName(AppearanceMode::light), "始终明亮");
    EXPECT_EQ(AppearanceController::resolveThemeID(AppearanceMode::system, true, ThemeID::mist,
                                                   ThemeID::forest),
              ThemeID::forest);
    EXPECT_EQ(AppearanceController::resolveThemeID(AppearanceMode::light, true, ThemeID::mist,
                                                   ThemeID::forest),
              ThemeID::mist);
    EXPECT_EQ(AppearanceController::resolveAppearance(AppearanceMode::dark, false),
              ThemeAppearance::dark);
}

}  // namespace
}  // namespace larkspin
