#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Appearance/ThemeCatalog.hpp"
#include "Window/WindowStyle.hpp"

namespace larkspin {
namespace {

Theme themeWith(std::optional<std::vector<GradientStop>> gradient, std::string solid) {
    Theme theme = ThemeCatalog::theme(ThemeID::porcelain);
    theme.background.gradient = std::move(gradient);
    theme.background.solid = HexColor(std::move(solid));
    return theme;
}

TEST(WindowStyle, SidebarFillTakesTheEarliestStopOrTheSolidColour) {
    const ColorComponents red{1, 0, 0, 1}, green{0, 1, 0, 1}, blue{0, 0, 1, 1}, white{1, 1, 1, 1};
    const ColorComponents magenta{1, 0, 1, 1};
    struct Case {
        const char* name;
        std::optional<std::vector<GradientStop>> gradient;
        std::string solid;
        ColorComponents expected;
    };
    const std::vector<Case> cases{
        {"no gradient", std::nullopt, "#ffffff", white},
        {"no stops", std::vector<GradientStop>{}, "#ffffff", white},
        {"smallest position, first of a tie",
         std::vector<GradientStop>{
             {HexColor("#ff0000"), 40}, {HexColor("#00ff00"), 0}, {HexColor("#0000ff"), 0}},
         "#ffffff", green},
        {"one stop", std::vector<GradientStop>{{HexColor("#0000ff"), 70}}, "#ffffff", blue},
        {"ascending",
         std::vector<GradientStop>{{HexColor("#ff0000"), 0}, {HexColor("#00ff00"), 100}}, "#ffffff",
         red},
        {"unparsable solid", std::nullopt, "white", magenta},
        {"unparsable stop", std::vector<GradientStop>{{HexColor("#12"), 0}}, "#ffffff", magenta},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowStyle::sidebarBackground(themeWith(c.gradient, c.solid)), c.expected)
            << c.name;
    }
}

TEST(WindowStyle, CssNamesTheWindowColoursOfTheTheme) {
    struct Case {
        ColorComponents color;
        const char* css;
    };
    const std::vector<Case> cases{
        {{0, 0, 0, 1}, "rgba(0,0,0,1.000)"},
        {{1, 0.5, 0.2, 0.25}, "rgba(255,128,51,0.250)"},
        {{2, -1, 0.999, 3}, "rgba(255,0,255,1.000)"},  // clamped, never out of range
    };
    for (const Case& c : cases) EXPECT_EQ(WindowStyle::cssColor(c.color), c.css);

    Theme theme = themeWith(std::nullopt, "#102030");
    theme.window.windowBackground = HexColor("#0a0b0c");
    theme.window.separator = HexColor("not a colour");
    const std::string css = WindowStyle::css(theme);
    EXPECT_NE(css.find("window.larkspin-document { background-color: rgba(10,11,12,1.000); }"),
              std::string::npos)
        << css;
    EXPECT_NE(css.find(".larkspin-outline, .larkspin-outline listview { background-color: "
                       "rgba(16,32,48,1.000); }"),
              std::string::npos)
        << css;
    // A broken colour shows as magenta rather than hiding.
    EXPECT_NE(css.find("separator { background-color: rgba(255,0,255,1.000); }"), std::string::npos)
        << css;

    EXPECT_FALSE(WindowStyle::isDark(ThemeCatalog::theme(ThemeID::porcelain)));
    EXPECT_TRUE(WindowStyle::isDark(ThemeCatalog::theme(ThemeID::graphite)));
}

}  // namespace
}  // namespace larkspin
