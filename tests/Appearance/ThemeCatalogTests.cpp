#include <gtest/gtest.h>

#include <set>

#include "Appearance/HexColor.hpp"
#include "Appearance/ThemeCatalog.hpp"

namespace larkspin {
namespace {

TEST(HexColor, ParsesSixAndEightDigitsInEitherCase) {
    const auto selection = HexColor("#335CCC2E").components();
    ASSERT_TRUE(selection);
    EXPECT_DOUBLE_EQ(selection->red, 0x33 / 255.0);
    EXPECT_DOUBLE_EQ(selection->green, 0x5C / 255.0);
    EXPECT_DOUBLE_EQ(selection->blue, 0xCC / 255.0);
    EXPECT_DOUBLE_EQ(selection->alpha, 0x2E / 255.0);
    EXPECT_EQ(HexColor("#335CCC").components()->alpha, 1.0);
    EXPECT_EQ(HexColor("#335ccc2e").components(), selection);
    EXPECT_EQ(HexColor("#FFFFFF").nativeColor(), (ColorComponents{1, 1, 1, 1}));
}

TEST(HexColor, RejectsMalformedTextAndPaintsItMagenta) {
    const ColorComponents magenta{1, 0, 1, 1};
    for (const char* text : {"", "335CCC", "#335CC", "#335CCC2", "#335CCG", "#+35CCC", " #335CCC",
                             "#335CCC2E0", "##335CCC"}) {
        EXPECT_FALSE(HexColor(text).components()) << text;
        EXPECT_EQ(HexColor(text).nativeColor(), magenta) << text;
    }
}

TEST(ThemeCatalog, EveryThemeIsCompleteAndConsistent) {
    const auto all = ThemeCatalog::all();
    ASSERT_EQ(all.size(), 6u);
    for (const auto& [id, theme] : all) {
        SCOPED_TRACE(std::string(rawValue(id)));
        EXPECT_EQ(theme.id, id);
        EXPECT_FALSE(theme.localizedName.empty());
        EXPECT_NE(theme.localizedName, localizedNameKey(id));  // found in the table
        const auto variables = theme.cssVariables();
        EXPECT_EQ(variables.size(), 31u);
        EXPECT_FALSE(variables.contains("--md-background-style"));
        for (const auto& [name, value] : variables) {
            EXPECT_EQ(name.rfind("--md-", 0), 0u) << name;
            EXPECT_TRUE(HexColor(value).components()) << name << " " << value;
            // Only the selection carries an alpha byte.
            EXPECT_EQ(value.size(), name == "--md-selection" ? 9u : 7u) << name;
        }
        EXPECT_EQ(theme.native.windowBackground, theme.web.canvas);
        EXPECT_EQ(theme.background.solid, theme.web.canvas);
        EXPECT_EQ(theme.web.focus, theme.web.link);
        EXPECT_EQ(theme.diagram.nodeBorder, theme.web.link);
        EXPECT_EQ(theme.native.separator, theme.content.tableBorder);
        if (theme.background.gradient) {
            double last = -1;
            for (const auto& stop : *theme.background.gradient) {
                EXPECT_GT(stop.position, last);
                EXPECT_TRUE(stop.color.components());
                last = stop.position;
            }
        }
        EXPECT_EQ(ThemeCatalog::theme(id), theme);  // built once, the same value each time
    }
}

TEST(ThemeCatalog, IdentitiesAppearancesAndSpotColours) {
    const std::pair<ThemeID, ThemeAppearance> appearances[] = {
        {ThemeID::porcelain, ThemeAppearance::light}, {ThemeID::linen, ThemeAppearance::light},
        {ThemeID::mist, ThemeAppearance::light},      {ThemeID::graphite, ThemeAppearance::dark},
        {ThemeID::midnight, ThemeAppearance::dark},   {ThemeID::forest, ThemeAppearance::dark}};
    for (auto [id, appearance] : appearances) {
        EXPECT_EQ(ThemeCatalog::theme(id).appearance, appearance);
        EXPECT_EQ(themeIDFromRaw(rawValue(id)), id);
    }
    EXPECT_EQ(themeIDFromRaw("Porcelain"), std::nullopt);
    EXPECT_EQ(themeIDFromRaw(""), std::nullopt);
    EXPECT_EQ(ThemeCatalog::defaultTheme(ThemeAppearance::light), ThemeID::porcelain);
    EXPECT_EQ(ThemeCatalog::defaultTheme(ThemeAppearance::dark), ThemeID::graphite);
    EXPECT_EQ(ThemeCatalog::theme(ThemeID::porcelain).localizedName, "瓷白");
    EXPECT_EQ(ThemeCatalog::theme(ThemeID::forest).localizedName, "松墨");

    const auto graphite = ThemeCatalog::theme(ThemeID::graphite);
    EXPECT_FALSE(graphite.background.gradient);
    EXPECT_EQ(graphite.background.solid.hex, "#191B20");
    EXPECT_EQ(graphite.native.sidebarMaterial, SidebarMaterial::underWindowBackground);

    const auto midnight = ThemeCatalog::theme(ThemeID::midnight);
    ASSERT_TRUE(midnight.background.gradient);
    ASSERT_EQ(midnight.background.gradient->size(), 3u);
    EXPECT_EQ((*midnight.background.gradient)[1].position, 45);
    EXPECT_EQ((*midnight.background.gradient)[0].color.hex, "#1A2540");
    EXPECT_EQ(midnight.native.sidebarMaterial, SidebarMaterial::sidebar);

    const auto porcelain = ThemeCatalog::theme(ThemeID::porcelain).cssVariables();
    EXPECT_EQ(porcelain.at("--md-selection"), "#335CCC2E");
    EXPECT_EQ(porcelain.at("--md-syntax-type"), "#0B7285");
    EXPECT_EQ(porcelain.at("--md-diagram-cluster"), "#F2F5FA");
    const auto linen = ThemeCatalog::theme(ThemeID::linen).cssVariables();
    EXPECT_EQ(linen.at("--md-selection"), "#D9A84E3D");
    EXPECT_EQ(linen.at("--md-table-head-bg"), "#EFE6D8");
    const auto forest = ThemeCatalog::theme(ThemeID::forest).cssVariables();
    EXPECT_EQ(forest.at("--md-diagram-error"), "#FF9A8F");
    EXPECT_EQ(forest.at("--md-code-bg"), "#111E19");
    EXPECT_EQ(ThemeCatalog::theme(ThemeID::mist).cssVariables().at("--md-syntax-string"),
              "#7A3E8C");

    // No two themes share a canvas.
    std::set<std::string> canvases;
    for (const auto& [id, theme] : ThemeCatalog::all()) canvases.insert(theme.web.canvas.hex);
    EXPECT_EQ(canvases.size(), 6u);
    EXPECT_EQ(sidebarMaterialFromRaw("underWindowBackground"),
              SidebarMaterial::underWindowBackground);
    EXPECT_EQ(sidebarMaterialFromRaw("vibrant"), std::nullopt);
}

}  // namespace
}  // namespace larkspin
