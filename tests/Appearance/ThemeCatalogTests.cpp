#include <gtest/gtest.h>

#include <set>

#include "Appearance/HexColor.hpp"
#include "Appearance/ThemeCatalog.hpp"

namespace larkspin {
namespace {

TEST(HexColor, ReadsSixOrEightDigitsInEitherCaseAndPaintsTheRestMagenta) {
    const ColorComponents selection{0x33 / 255.0, 0x5C / 255.0, 0xCC / 255.0, 0x2E / 255.0};
    const std::pair<std::string, std::optional<ColorComponents>> cases[] = {
        {"#335CCC2E", selection},
        {"#335ccc2e", selection},
        {"#335CCC", ColorComponents{0x33 / 255.0, 0x5C / 255.0, 0xCC / 255.0, 1}},
        {"#FFFFFF", ColorComponents{1, 1, 1, 1}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(HexColor(text).components(), expected) << text;
        EXPECT_EQ(HexColor(text).nativeColor(), expected) << text;
    }
    for (const char* text : {"", "335CCC", "#335CC", "#335CCC2", "#335CCG", "#+35CCC", " #335CCC",
                             "#335CCC2E0", "##335CCC"}) {
        EXPECT_FALSE(HexColor(text).components()) << text;
        EXPECT_EQ(HexColor(text).nativeColor(), (ColorComponents{1, 0, 1, 1})) << text;
    }
}

TEST(ThemeCatalog, EveryThemeIsCompleteAndConsistent) {
    const auto all = ThemeCatalog::all();
    ASSERT_EQ(all.size(), allThemeIDs.size());
    std::set<std::string> canvases, names;
    std::map<ThemeAppearance, int> perAppearance;
    for (const auto& [id, theme] : all) {
        SCOPED_TRACE(std::string(rawValue(id)));
        EXPECT_EQ(theme.id, id);
        EXPECT_FALSE(theme.localizedName.empty());
        EXPECT_NE(theme.localizedName, localizedNameKey(id));  // found in the table
        const auto variables = theme.cssVariables();
        EXPECT_EQ(variables.size(), 31u);
        for (const auto& [name, value] : variables) {
            EXPECT_TRUE(name.starts_with("--md-")) << name;
            EXPECT_TRUE(HexColor(value).components()) << name << " " << value;
            // Only the selection carries an alpha byte.
            EXPECT_EQ(value.size(), name == "--md-selection" ? 9u : 7u) << name;
        }
        EXPECT_EQ(theme.window.windowBackground, theme.web.canvas);
        EXPECT_EQ(theme.background.solid, theme.web.canvas);
        EXPECT_EQ(theme.web.focus, theme.web.link);
        EXPECT_EQ(theme.diagram.nodeBorder, theme.web.link);
        EXPECT_EQ(theme.window.separator, theme.content.tableBorder);
        double last = -1;
        for (const auto& stop : theme.background.gradient.value_or(std::vector<GradientStop>{})) {
            EXPECT_GT(stop.position, last);
            EXPECT_TRUE(stop.color.components());
            last = stop.position;
        }
        EXPECT_EQ(ThemeCatalog::theme(id), theme);  // built once, the same value each time
        canvases.insert(theme.web.canvas.hex);
        names.insert(theme.localizedName);
        ++perAppearance[theme.appearance];
    }
    EXPECT_EQ(canvases.size(), all.size());  // no two themes share a canvas or a name
    EXPECT_EQ(names.size(), all.size());
    EXPECT_EQ(perAppearance, (std::map<ThemeAppearance, int>{{ThemeAppearance::light, 3},
                                                             {ThemeAppearance::dark, 3}}));
    for (auto appearance : {ThemeAppearance::light, ThemeAppearance::dark}) {
        EXPECT_EQ(ThemeCatalog::theme(ThemeCatalog::defaultTheme(appearance)).appearance,
                  appearance);
    }
}

}  // namespace
}  // namespace larkspin
