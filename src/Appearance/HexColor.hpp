#pragma once

#include <optional>
#include <string>

namespace larkspin {

// Red, green, blue and alpha, each in 0…1 (sRGB). GTK code turns it into a
// GdkRGBA field by field.
struct ColorComponents {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    bool operator==(const ColorComponents&) const = default;
};

// A colour as text: "#" and six hexadecimal digits (red, green, blue) or
// eight (with alpha last), either case. The text is kept as given; whether it
// is valid is decided only when it is read.
struct HexColor {
    std::string hex;

    HexColor() = default;
    explicit HexColor(std::string text) : hex(std::move(text)) {}

    // The colour's components, or nothing when the text is not a valid colour.
    std::optional<ColorComponents> components() const;

    // The colour to paint with: `components()`, or opaque magenta when the
    // text is not a valid colour, so that a broken entry shows instead of
    // hiding.
    ColorComponents nativeColor() const;

    bool operator==(const HexColor&) const = default;
};

}  // namespace larkspin
