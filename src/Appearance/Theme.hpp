#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Appearance/HexColor.hpp"
#include "Appearance/ThemeID.hpp"

namespace larkspin {

// The material behind the window's sidebar under a theme.
enum class SidebarMaterial { sidebar, underWindowBackground, none };

std::string_view rawValue(SidebarMaterial material);
std::optional<SidebarMaterial> sidebarMaterialFromRaw(std::string_view raw);

// One stop of the page's background gradient; `position` in percent, 0…100.
struct GradientStop {
    HexColor color;
    double position = 0;

    bool operator==(const GradientStop&) const = default;
};

// Colours of the window around the page: its background, the sidebar's
// material and the separators.
struct ThemeWindow {
    HexColor windowBackground;
    SidebarMaterial sidebarMaterial = SidebarMaterial::sidebar;
    HexColor separator;

    bool operator==(const ThemeWindow&) const = default;
};

// Colours of the page's frame: canvas, text, links, selection.
struct ThemeWeb {
    HexColor canvas, surface, text, textSecondary, link, selection, focus;

    bool operator==(const ThemeWeb&) const = default;
};

// Colours of the rendered Markdown blocks.
struct ThemeContent {
    HexColor headingColor, quoteBorder, quoteText, codeBackground, codeText, tableHeaderBackground,
        tableRowAlt, tableBorder, calloutBackground, errorBackground, errorText;

    bool operator==(const ThemeContent&) const = default;
};

// Colours of code highlighting.
struct ThemeSyntax {
    HexColor keyword, string, comment, number, function, type, punctuation;

    bool operator==(const ThemeSyntax&) const = default;
};

// Colours of rendered diagrams.
struct ThemeDiagram {
    HexColor node, nodeBorder, edge, label, cluster, error;

    bool operator==(const ThemeDiagram&) const = default;
};

// The page background: an optional gradient (stops in ascending position)
// and the single colour used where no gradient is drawn.
struct ThemeBackground {
    std::optional<std::vector<GradientStop>> gradient;
    HexColor solid;

    bool operator==(const ThemeBackground&) const = default;
};

// CSS custom property name → colour text, as the page receives them.
using CSSVariables = std::map<std::string, std::string, std::less<>>;

// A theme's complete colour set. Two themes are equal when every field is.
struct Theme {
    ThemeID id = ThemeID::porcelain;
    std::string localizedName;
    ThemeAppearance appearance = ThemeAppearance::light;
    ThemeWindow window;
    ThemeWeb web;
    ThemeContent content;
    ThemeSyntax syntax;
    ThemeDiagram diagram;
    ThemeBackground background;

    // The 31 "--md-*" custom properties of the page, each the colour's text
    // unchanged. The native colours and the background are not among them.
    // Built afresh on each call.
    CSSVariables cssVariables() const;

    bool operator==(const Theme&) const = default;
};

}  // namespace larkspin
