#pragma once

#include "Appearance/HexColor.hpp"

namespace larkspin::ColorContrast {

// The relative luminance of an sRGB colour (alpha ignored), 0…1.
double luminance(const ColorComponents& color);
// The contrast ratio of two opaque colours, 1…21, in either order.
double ratio(const ColorComponents& a, const ColorComponents& b);
// `top` (with its alpha) painted over the opaque `bottom`; opaque.
ColorComponents over(const ColorComponents& top, const ColorComponents& bottom);

// What the strips above a page must reach: text and icons against what lies behind.
inline constexpr double minimumForText = 4.5;
inline constexpr double minimumForIcons = 3.0;

}  // namespace larkspin::ColorContrast
