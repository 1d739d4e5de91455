#include <gtest/gtest.h>

#include <optional>

#include "Settings/SettingsPages.hpp"

namespace larkspin {
namespace {

TEST(SettingsWindowFrameTest, ReadsOnlyWhatItWrites) {
    const std::pair<const char*, std::optional<SettingsWindowFrame>> cases[] = {
        {"1000 700", SettingsWindowFrame{1000, 700, false}},
        {"1200 800 maximized", SettingsWindowFrame{1200, 800, true}},
        // Below the minimum: raised to it.
        {"400 300", SettingsWindowFrame{900, 648, false}},
        {"", std::nullopt},
        {"1000", std::nullopt},
        {"1000 700 fullscreen", std::nullopt},
        {"1000 -700", std::nullopt},
        {"1000 0", std::nullopt},
        {"1000x700", std::nullopt},
        {"99999999999 700", std::nullopt},
        {"20000 700", std::nullopt},
        {"{{100, 100}, {900, 648}}", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(SettingsWindowFrame::parse(text), expected) << text;
    }
    for (const SettingsWindowFrame frame : {SettingsWindowFrame{1000, 700, false},
                                            SettingsWindowFrame{1200, 800, true}}) {
        EXPECT_EQ(SettingsWindowFrame::parse(frame.text()), frame) << frame.text();
    }
}

TEST(FontSizeSliderCommitTest, ADragStoresOnceAtItsEnd) {
    FontSizeSliderCommit commit;
    commit.pressed();
    // Moving while dragging starts no pause and stores nothing.
    EXPECT_FALSE(commit.changed());
    EXPECT_EQ(commit.paused(19, 16), std::nullopt);
    EXPECT_EQ(commit.released(20, 16), 20);
    // A release without a press, and a drag back to the stored size, store nothing.
    EXPECT_EQ(commit.released(21, 16), std::nullopt);
    commit.pressed();
    EXPECT_EQ(commit.released(16, 16), std::nullopt);
    // Keyboard and wheel: stored when the changes pause.
    EXPECT_TRUE(commit.changed());
    EXPECT_EQ(commit.paused(17, 16), 17);
    EXPECT_EQ(commit.paused(16, 16), std::nullopt);
}

TEST(FontSizeStepTest, StaysWithinTheRange) {
    const std::tuple<double, int, std::optional<double>> cases[] = {
        {16, 1, 17},   {16, -1, 15},  {23.5, 1, 24},           {24, 1, std::nullopt},
        {13, -1, std::nullopt}, {13.5, -1, 13}, {30, 1, std::nullopt}, {30, -1, 24},
    };
    for (const auto& [stored, direction, expected] : cases) {
        EXPECT_EQ(fontSizeStep(stored, direction), expected) << stored << " " << direction;
    }
}

TEST(SettingsTextsTest, SizeLabelsAndWeightNames) {
    EXPECT_EQ(fontSizeLabel(16), "16 px");
    EXPECT_EQ(fontSizeLabel(14.5), "14 px");
    EXPECT_EQ(weightTitle(400), "400 常规");
    EXPECT_EQ(weightTitle(700), "700 粗");
    EXPECT_EQ(weightTitle(900), "900 极粗");
    EXPECT_EQ(weightTitle(450), "450 极粗");
    AppInfo info;
    EXPECT_EQ(info.displayName(), "Larkspin");
    EXPECT_EQ(info.version(), "dev (0)");
    info = {"Larkspin", "1.4.2", "318"};
    EXPECT_EQ(info.version(), "1.4.2 (318)");
}

TEST(ThemeCardMarksTest, OneCurrentAndOneRemembered) {
    EXPECT_EQ(themesOf(ThemeAppearance::light),
              (std::vector<ThemeID>{ThemeID::porcelain, ThemeID::linen, ThemeID::mist}));
    EXPECT_EQ(themesOf(ThemeAppearance::dark),
              (std::vector<ThemeID>{ThemeID::graphite, ThemeID::midnight, ThemeID::forest}));
    int current = 0;
    int remembered = 0;
    for (ThemeID id : allThemeIDs) {
        const auto marks = themeCardMarks(id, ThemeID::midnight, ThemeID::linen, ThemeID::midnight);
        current += marks.isCurrent;
        remembered += marks.isRemembered;
        EXPECT_EQ(marks.isCurrent, id == ThemeID::midnight);
        EXPECT_EQ(marks.isRemembered, id == ThemeID::linen);
    }
    EXPECT_EQ(current, 1);
    EXPECT_EQ(remembered, 1);
}

TEST(FamilyOptionsTest, AStoredFamilyStaysShown) {
    const std::vector<std::string> installed{"Duo", "Wide Grotesk"};
    using V = std::vector<std::string>;
    EXPECT_EQ(familyOptions("", installed), installed);
    EXPECT_EQ(familyOptions("Duo", installed), installed);
    EXPECT_EQ(familyOptions("Gone", installed), (V{"Gone", "Duo", "Wide Grotesk"}));
    // Before the list has loaded.
    EXPECT_EQ(familyOptions("Duo", {}), V{"Duo"});
    EXPECT_EQ(familyOptions("", {}), V{});
}

}  // namespace
}  // namespace larkspin
