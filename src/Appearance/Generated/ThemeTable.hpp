#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "Appearance/Theme.hpp"
#include "Appearance/ThemeID.hpp"

// The colours of the six themes, as data. This table is the one source of
// every colour the program paints, natively or in the page; ThemeCatalog
// turns a row into a Theme value.
namespace larkspin::generated {

struct ThemeRowStop {
    std::string_view color;
    double position = 0;
};

struct ThemeRow {
    ThemeID id;
    ThemeAppearance appearance;
    struct {
        std::string_view windowBackground;
        SidebarMaterial sidebarMaterial;
        std::string_view separator;
    } window;
    struct {
        std::string_view canvas, surface, text, textSecondary, link, selection, focus;
    } web;
    struct {
        std::string_view headingColor, quoteBorder, quoteText, codeBackground, codeText,
            tableHeaderBackground, tableRowAlt, tableBorder, calloutBackground, errorBackground,
            errorText;
    } content;
    struct {
        std::string_view keyword, string, comment, number, function, type, punctuation;
    } syntax;
    struct {
        std::string_view node, nodeBorder, edge, label, cluster, error;
    } diagram;
    std::array<ThemeRowStop, 3> gradient;
    std::size_t gradientStops;  // 0: no gradient
    std::string_view solid;
};

// One row per ThemeID, in declaration order.
extern const std::array<ThemeRow, 6> themeRows;

}  // namespace larkspin::generated
