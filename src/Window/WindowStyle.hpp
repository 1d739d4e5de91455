#pragma once

#include <string>

#include "Appearance/HexColor.hpp"
#include "Appearance/Theme.hpp"

namespace larkspin {

// How the windows look under a theme, free of widgets: the widgets
// load `css` into one display-wide style provider and force the colour
// scheme that `isDark` gives.
namespace WindowStyle {

// The sidebar's fill: the first gradient stop by position (the earlier of two
// at one position) when the page background has stops, else the solid
// colour; opaque magenta for a colour text that does not parse.
ColorComponents sidebarBackground(const Theme& theme);
bool isDark(const Theme& theme);
// A CSS colour with components rounded to 0…255 and the alpha kept.
std::string cssColor(const ColorComponents& color);
// The style sheet of the windows: the group windows' background
// (".larkspin-document"), the outline sidebar's fill (".larkspin-outline")
// and the divider beside it (".larkspin-page").
std::string css(const Theme& theme);

}  // namespace WindowStyle

}  // namespace larkspin
