#include "Editor/EditorLayout.hpp"
#include "Editor/EditorPreferences.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Appearance/ThemeCatalog.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using P = EditorPositioning;

TEST(EditorLayout, FontSizeFollowsThePageWithinBounds) {
    struct Case {
        double px;
        int size;
    };
    for (const Case c : {Case{16, 13}, Case{24, 20}, Case{8, 10}, Case{40, 28}, Case{13, 11},
                         Case{std::numeric_limits<double>::quiet_NaN(), 10},
                         Case{std::numeric_limits<double>::infinity(), 28}}) {
        EXPECT_EQ(EditorLayout::fontSize(c.px), c.size) << c.px;
    }
}

TEST(EditorLayout, GutterWidensByDigitsFromAThousandLines) {
    const double digit = 7.2;
    EXPECT_EQ(EditorLayout::gutterWidth(9, digit), EditorLayout::gutterWidth(999, digit));
    EXPECT_EQ(EditorLayout::gutterWidth(999, digit), std::ceil(7.2 * 3) + 20);
    EXPECT_EQ(EditorLayout::gutterWidth(1000, digit), std::ceil(7.2 * 4) + 20);
    EXPECT_FALSE(EditorLayout::gutterWidthChanged(42, 42.5));
    EXPECT_TRUE(EditorLayout::gutterWidthChanged(42, 42.6));
    // Only the left edge makes room for the numbers.
    EXPECT_EQ(EditorLayout::leftInset(true, 49.5), 50 + 14);
    EXPECT_EQ(EditorLayout::leftInset(false, 49.5), 14);
}

TEST(EditorPositioning, FirstRuleThatApplies) {
    struct Case {
        std::optional<std::int64_t> anchor;
        bool editHere;
        std::optional<TextRange> saved;
        P expected;
    };
    const std::int64_t length = 100;
    for (const Case& c : {
             Case{5, true, TextRange{1, 2}, P{P::EditHere{5}}},
             Case{0, true, TextRange{1, 2}, P{P::RestoredSelection{{1, 2}}}},
             Case{std::nullopt, true, std::nullopt, P{P::Top{}}},
             Case{7, false, TextRange{90, 10}, P{P::RestoredSelection{{90, 10}}}},
             Case{7, false, TextRange{90, 11}, P{P::AnchorLine{7}}},
             Case{-3, false, std::nullopt, P{P::Top{}}},
             Case{0, true, TextRange{95, 6}, P{P::Top{}}},
         }) {
        EXPECT_EQ(P::forEntering(c.anchor, c.editHere, c.saved, length), c.expected) << c.expected.description();
    }
    const P restored{P::RestoredSelection{{3, 4}}};
    EXPECT_EQ(restored.description(), "restoredSelection(3, 4)");
}

TEST(EditorFont, FallsBackToMonospace) {
    for (const char* family : {"", " \n\t", "No Such Family 9c1f"}) {
        EXPECT_EQ(EditorFont::family(family), "monospace") << family;
    }
}

// The main thread asks only for what the workers worked out, by the trimmed
// name; an empty name needs no fonts.
TEST(EditorFont, PreparedOnTheWorkersAndKept) {
    EXPECT_EQ(EditorFont::knownFamily(" \t"), "monospace");
    // What was worked out is kept for the process: a name of this run's own.
    static int run = 0;
    const std::string unknown = "No Such Family 51ab " + std::to_string(++run);
    EXPECT_EQ(EditorFont::knownFamily(unknown), std::nullopt);
    test::runTask(EditorFont::prepare("  " + unknown + "\n"));
    EXPECT_EQ(EditorFont::knownFamily(unknown), "monospace");
    EXPECT_EQ(EditorFont::preparedFamily(unknown + " "), "monospace");
}

TEST(EditorTheme, TakesTheEditorColoursFromTheTheme) {
    const Theme theme = ThemeCatalog::theme(ThemeID::porcelain);
    const EditorTheme editor = EditorTheme::from(theme);
    EXPECT_EQ(editor.background, theme.web.canvas);
    EXPECT_EQ(editor.textSecondary, theme.web.textSecondary);
    EXPECT_EQ(editor.heading, theme.content.headingColor);
    EXPECT_EQ(editor.quote, theme.content.quoteText);
    EXPECT_EQ(editor.quoteBorder, theme.content.quoteBorder);
    EXPECT_EQ(editor.separator, theme.window.separator);
}

TEST(EditorPreferences, StoresAndAnnouncesRealChangesOnly) {
    test::TempDir dir;
    UserDefaults defaults(dir / "prefs.json");
    auto center = NotificationCenter::create();
    EditorPreferences prefs(defaults, *center);
    int posts = 0;
    auto observer = center->addObserver(std::string(EditorPreferences::didChangeNotification), &prefs,
                                        [&](const Notification&) { ++posts; });
    EXPECT_FALSE(prefs.spellChecking());
    prefs.setSpellChecking(false);
    prefs.setSpellChecking(true);
    prefs.setSpellChecking(true);
    EXPECT_EQ(posts, 1);
    ASSERT_TRUE(defaults.drainForTesting());
    EXPECT_EQ(UserDefaults(dir / "prefs.json").boolean("editor.spellChecking"), true);
}

}  // namespace
}  // namespace larkspin
