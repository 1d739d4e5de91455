#include <gtest/gtest.h>

#include <functional>

#include "Platform/Text/Iso8601.hpp"
#include "Settings/SettingsModel.hpp"
#include "Settings/SettingsTab.hpp"
#include "Settings/SettingsTestSupport.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using Role = TypographyFontRole;
using test::runTask;

class SettingsModelTest : public ::testing::Test, protected test::SettingsFixture {
protected:
    void TearDown() override { EXPECT_TRUE(defaults.drainForTesting()); }
    test::NotificationRecorder changes{*center, SettingsModel::didChangeNotification};
};

TEST_F(SettingsModelTest, RevisionRisesOnceForEveryAnnouncedChange) {
    struct Case {
        const char* what;
        std::function<void(test::SettingsFixture&)> change;
    };
    const Case cases[] = {
        // The desktop first: with the mode still "system" it changes the theme.
        {"desktop dark", [](auto& f) { f.desktop->setDark(true); }},
        {"mode", [](auto& f) { f.model.setAppearanceMode(AppearanceMode::dark); }},
        {"theme", [](auto& f) { f.model.selectTheme(ThemeID::linen); }},
        {"font size", [](auto& f) { f.model.setFontSize(18); }},
        {"weight", [](auto& f) { f.model.setFontWeight(700); }},
        {"width", [](auto& f) { f.model.setWidthPreset(TypographyWidthPreset::wide); }},
        {"wide blocks", [](auto& f) { f.model.setWideBlocks(WideBlockMode::full); }},
        {"spelling", [](auto& f) { f.model.setSpellChecking(true); }},
        {"policy", [](auto& f) { f.model.setExternalChangePolicy(ExternalChangePolicy::ask); }},
        // Changes made elsewhere (a menu, the desktop) count the same.
        {"menu zoom", [](auto& f) { f.typography.increaseFontSize(); }},
    };
    for (const Case& c : cases) {
        const std::int64_t before = model.revision();
        const std::size_t posts = changes.senders.size();
        c.change(*this);
        EXPECT_EQ(model.revision(), before + 1) << c.what;
        ASSERT_EQ(changes.senders.size(), posts + 1) << c.what;
        EXPECT_EQ(changes.senders.back(), &model) << c.what;
    }
    // What changes nothing announces nothing.
    const std::int64_t before = model.revision();
    model.setFontSize(model.typography().fontSizePx);
    model.setExternalChangePolicy(ExternalChangePolicy::ask);
    model.setSpellChecking(true);
    center->post("dev.corvantel.larkspin.somethingElse", nullptr);
    EXPECT_EQ(model.revision(), before);
}

TEST_F(SettingsModelTest, ReadsGoToTheStores) {
    defaults.setString(AppearanceController::lightThemeKey, "mist");
    defaults.setString(AppearanceController::darkThemeKey, "porcelain");  // not a dark theme
    defaults.setString(DocumentPreferences::externalChangePolicyKey, "ask");
    defaults.setBool(SettingsModel::spellCheckingKey, true);
    EXPECT_EQ(model.selectedLightThemeID(), ThemeID::mist);
    EXPECT_EQ(model.selectedDarkThemeID(), ThemeID::graphite);
    EXPECT_EQ(model.currentThemeID(), ThemeID::mist);
    EXPECT_EQ(model.externalChangePolicy(), ExternalChangePolicy::ask);
    EXPECT_TRUE(model.spellChecking());
    model.setSpellChecking(false);
    EXPECT_EQ(defaults.boolean(SettingsModel::spellCheckingKey), false);
}

TEST_F(SettingsModelTest, FamiliesAreShownBareAndStoredQuoted) {
    defaults.setString(TypographyController::bodyFamilyKey, "\"Wide Grotesk\"");
    defaults.setString(TypographyController::monoFamilyKey, " 'Code' ");
    EXPECT_EQ(model.family(Role::body), "Wide Grotesk");
    EXPECT_EQ(model.family(Role::mono), "Code");
    EXPECT_EQ(model.family(Role::heading), "");
    model.setFamily("Wide Grotesk", Role::heading);
    EXPECT_EQ(defaults.string(TypographyController::headingFamilyKey), "\"Wide Grotesk\"");
    model.setFamily("", Role::mono);
    EXPECT_EQ(model.family(Role::mono), "");
    // Code fonts only for the code role.
    EXPECT_EQ(runTask(model.candidateFamilies(Role::mono)), std::vector<std::string>{"Code"});
}

TEST_F(SettingsModelTest, RestoringThemeTypographyKeepsFamiliesAndWeight) {
    model.setFamily("Duo", Role::body);
    model.setFontWeight(500);
    model.setFontSize(20);
    model.setWidthPreset(TypographyWidthPreset::wide);
    model.setLineHeightPreset(TypographyLineHeightPreset::loose);
    model.setWideBlocks(WideBlockMode::full);
    model.restoreThemeTypography();
    TypographySettings expected;
    expected.bodyFamily = "Duo";
    expected.fontWeight = 500;
    EXPECT_EQ(model.typography(), expected);
}

TEST_F(SettingsModelTest, RestoringAllAppearanceDefaultsResetsEverything) {
    model.setFamily("Duo", Role::body);
    model.setFontSize(20);
    model.selectTheme(ThemeID::midnight);
    model.selectTheme(ThemeID::linen);
    model.setAppearanceMode(AppearanceMode::dark);
    model.restoreAllAppearanceDefaults();
    EXPECT_EQ(model.typography(), TypographySettings::defaults);
    EXPECT_EQ(model.appearanceMode(), AppearanceMode::system);
    EXPECT_FALSE(defaults.contains(AppearanceController::lightThemeKey));
    EXPECT_FALSE(defaults.contains(AppearanceController::darkThemeKey));
    EXPECT_EQ(model.currentThemeID(), ThemeID::porcelain);
}

TEST_F(SettingsModelTest, FontPanelOpensOnTheRole) {
    model.setFamily("Code", Role::mono);
    model.showFontPanel(Role::mono);
    EXPECT_EQ(fontPanel.presented, 1);
    EXPECT_TRUE(fontPanel.monospace);
    EXPECT_EQ(fontPanel.shown.family, "Code");
    EXPECT_EQ(typography.fontPanelRole(), Role::mono);
}

TEST_F(SettingsModelTest, CountsAndClearsResolvedDraftsThroughTheStore) {
    EXPECT_EQ(runTask(model.resolvedDraftCount()), 0);
    const Date now = *Iso8601::parse("2024-06-01T12:00:00Z");
    const char* ids[] = {"AAAAAAAA-0000-4000-8000-000000000001", "BBBBBBBB-0000-4000-8000-000000000002",
                         "CCCCCCCC-0000-4000-8000-000000000003", "DDDDDDDD-0000-4000-8000-000000000004",
                         "EEEEEEEE-0000-4000-8000-000000000005"};
    for (int i = 0; i < 5; ++i) {
        RecoveryDraft draft;
        draft.draftID = ids[i];
        draft.encoding = "utf8";
        draft.lineEnding = "lf";
        draft.content = "text";
        draft.createdAt = draft.updatedAt = now;
        if (i < 3) {
            draft.resolvedAt = now;
            draft.resolution = RecoveryDraft::Resolution::saved;
        }
        runTask(drafts->write(draft));
    }
    EXPECT_EQ(runTask(model.resolvedDraftCount()), 3);
    EXPECT_EQ(runTask(model.clearResolvedDrafts()), 3);
    EXPECT_EQ(runTask(model.resolvedDraftCount()), 0);
    EXPECT_EQ(runTask(drafts->unresolvedDrafts()).size(), 2u);
}

TEST(SettingsSelectionTest, TellsOnlyOfRealChanges) {
    SettingsSelection selection;
    std::vector<SettingsTab> told;
    selection.observe([&](SettingsTab tab) { told.push_back(tab); });
    EXPECT_EQ(selection.tab(), SettingsTab::general);
    EXPECT_FALSE(selection.setTab(SettingsTab::general));
    EXPECT_TRUE(selection.setTab(SettingsTab::about));
    EXPECT_FALSE(selection.setTab(SettingsTab::about));
    EXPECT_TRUE(selection.setTab(SettingsTab::typography));
    EXPECT_EQ(told, (std::vector<SettingsTab>{SettingsTab::about, SettingsTab::typography}));
}

TEST(SettingsTabTest, SidebarListsEditorOnlyWhenEditing) {
    using T = SettingsTab;
    EXPECT_EQ(sidebarListTabs(false), (std::vector<T>{T::general, T::appearance, T::typography}));
    EXPECT_EQ(sidebarListTabs(true),
              (std::vector<T>{T::general, T::appearance, T::typography, T::editor}));
    for (T tab : allSettingsTabs) {
        EXPECT_EQ(settingsTabFromRaw(rawValue(tab)), tab);
        EXPECT_NE(title(tab), "settings.tab." + std::string(rawValue(tab))) << "untranslated";
    }
    EXPECT_EQ(title(T::general), "通用");
    EXPECT_EQ(tileColors(T::about).top, tileColors(T::general).top);
}

}  // namespace
}  // namespace larkspin
