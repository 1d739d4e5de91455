#include <gtest/gtest.h>

#include <set>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/AppearanceTestSupport.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Appearance/TypographyController.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

class AppearanceControllerTest : public ::testing::Test {
protected:
    test::TempDir dir;
    UserDefaults defaults{dir / "prefs.json"};
    // Writes run on a queue: let them end before the folder goes.
    void TearDown() override { EXPECT_TRUE(defaults.drainForTesting()); }
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    std::shared_ptr<test::FakeDesktopAppearance> desktop =
        std::make_shared<test::FakeDesktopAppearance>();
    AppearanceController controller{defaults, *center, desktop};
    test::NotificationRecorder posts{*center, AppearanceController::didChangeNotification};
};

TEST_F(AppearanceControllerTest, DefaultsFollowTheDesktopAndIgnoreStoredValuesOfTheWrongKind) {
    EXPECT_EQ(controller.mode(), AppearanceMode::system);
    EXPECT_EQ(controller.currentThemeID(), ThemeCatalog::defaultTheme(ThemeAppearance::light));
    desktop->setDark(true);
    EXPECT_EQ(controller.currentThemeID(), ThemeCatalog::defaultTheme(ThemeAppearance::dark));
    EXPECT_EQ(controller.currentTheme().id, controller.currentThemeID());
    // Without a desktop source the desktop counts as light.
    EXPECT_EQ(AppearanceController(defaults, *center, nullptr).currentThemeID(),
              ThemeID::porcelain);

    posts.senders.clear();
    defaults.setString("selectedDarkThemeID", "linen");   // a light theme in the dark slot
    defaults.setString("selectedLightThemeID", "sepia");  // no such theme
    defaults.setString("appearanceMode", "Dark");         // letter case counts
    EXPECT_EQ(controller.selectedDarkThemeID(), ThemeID::graphite);
    EXPECT_EQ(controller.selectedLightThemeID(), ThemeID::porcelain);
    EXPECT_EQ(controller.mode(), AppearanceMode::system);
    EXPECT_EQ(defaults.string("selectedDarkThemeID"), "linen");  // not rewritten
    EXPECT_TRUE(posts.senders.empty());
}

TEST_F(AppearanceControllerTest, PickingAThemeOfTheOtherAppearanceSwitchesTheMode) {
    controller.select(ThemeID::midnight);
    EXPECT_EQ(defaults.string("selectedDarkThemeID"), "midnight");
    EXPECT_EQ(defaults.string("appearanceMode"), "dark");
    EXPECT_EQ(controller.currentThemeID(), ThemeID::midnight);
    EXPECT_EQ(posts.senders, (std::vector<const void*>{&controller}));
    EXPECT_EQ(controller.themeRevision(), 1);

    controller.select(ThemeID::linen);  // from dark, a light theme switches to light
    EXPECT_EQ(defaults.string("appearanceMode"), "light");
    EXPECT_EQ(defaults.string("selectedDarkThemeID"), "midnight");
    EXPECT_EQ(controller.currentThemeID(), ThemeID::linen);

    // A theme of the appearance in force keeps the mode.
    controller.select(AppearanceMode::system);
    desktop->setDark(true);
    controller.select(ThemeID::forest);
    EXPECT_EQ(defaults.string("appearanceMode"), "system");
    EXPECT_EQ(controller.currentThemeID(), ThemeID::forest);
}

TEST_F(AppearanceControllerTest, ModesAlwaysAnnounceAndTheDesktopOnlyWhenTheThemeChanges) {
    controller.select(AppearanceMode::system);
    controller.select(AppearanceMode::system);
    EXPECT_EQ(posts.senders.size(), 2u);
    EXPECT_EQ(controller.themeRevision(), 2);
    EXPECT_EQ(defaults.string("appearanceMode"), "system");

    desktop->setDark(true);
    EXPECT_EQ(posts.senders.size(), 3u);
    EXPECT_EQ(controller.lastBroadcastThemeID(), ThemeID::graphite);
    desktop->setDark(true);  // the same answer again
    EXPECT_EQ(posts.senders.size(), 3u);
    // A forced mode ignores the desktop.
    controller.select(AppearanceMode::light);
    desktop->setDark(false);
    desktop->setDark(true);
    EXPECT_EQ(posts.senders.size(), 4u);
    EXPECT_EQ(controller.currentThemeID(), ThemeID::porcelain);

    // Nothing announced yet: the first desktop change announces.
    AppearanceController fresh(defaults, *center, desktop);
    controller.select(AppearanceMode::system);
    posts.senders.clear();
    desktop->setDark(true);
    EXPECT_EQ(posts.senders, (std::vector<const void*>{&fresh}));
    // A controller that is gone hears nothing.
    auto shortLived = std::make_unique<AppearanceController>(defaults, *center, desktop);
    shortLived.reset();
    desktop->setDark(false);
    EXPECT_EQ(posts.senders.size(), 3u);
}

// Every raw-value table of the layer reads back; no two values, and no two
// menu items of one kind, share a name.
TEST(AppearanceRawValues, DistinctAndReadBack) {
    auto readBack = [](const auto& values, auto fromRaw) {
        std::set<std::string> names;
        for (const auto value : values) {
            EXPECT_EQ(fromRaw(rawValue(value)), value) << rawValue(value);
            if constexpr (requires { localizedName(value); }) names.insert(localizedName(value));
        }
        EXPECT_TRUE(names.empty() || names.size() == std::size(values));
    };
    readBack(allAppearanceModes, appearanceModeFromRaw);
    readBack(allThemeIDs, themeIDFromRaw);
    readBack(std::array{ThemeAppearance::light, ThemeAppearance::dark}, themeAppearanceFromRaw);
    readBack(std::array{SidebarMaterial::sidebar, SidebarMaterial::underWindowBackground,
                        SidebarMaterial::none},
             sidebarMaterialFromRaw);
    readBack(allWidthPresets, widthPresetFromRaw);
    readBack(allLineHeightPresets, lineHeightPresetFromRaw);
    readBack(allWideBlockModes, wideBlockModeFromRaw);
    using Kind = TypographyFontStatus::Kind;
    using Location = FontResolver::Location;
    auto count = [](auto... values) { return std::set{rawValue(values)...}.size(); };
    EXPECT_EQ(
        count(Kind::defaultStack, Kind::exact, Kind::weightMapped, Kind::familyMissing) +
            count(TypographyFontRole::body, TypographyFontRole::mono, TypographyFontRole::heading),
        7u);
    EXPECT_EQ(count(Location::system, Location::library, Location::user, Location::other,
                    Location::unknown),
              5u);
    // CSS weights to the desktop's: the nearest hundred, halves down.
    for (int css = 100; css <= 900; ++css) {
        const int desktop = pangoWeight(TypographyController::platformWeight(css));
        EXPECT_TRUE(std::abs(desktop - css) < 50 || desktop == css - 50) << css << " " << desktop;
    }
}

}  // namespace
}  // namespace larkspin
