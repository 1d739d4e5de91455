#include "Appearance/HexColor.hpp"

#include <cstdint>

namespace larkspin {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<ColorComponents> HexColor::components() const {
    if (hex.empty() || hex.front() != '#') return std::nullopt;
    const std::string_view digits = std::string_view(hex).substr(1);
    if (digits.size() != 6 && digits.size() != 8) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        const int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint64_t>(d);
    }
    ColorComponents out;
    if (digits.size() == 8) {
        out.alpha = static_cast<double>(value & 0xFF) / 255.0;
        value >>= 8;
    }
    out.red = static_cast<double>((value >> 16) & 0xFF) / 255.0;
    out.green = static_cast<double>((value >> 8) & 0xFF) / 255.0;
    out.blue = static_cast<double>(value & 0xFF) / 255.0;
    return out;
}

ColorComponents HexColor::nativeColor() const {
    if (auto parsed = components()) return *parsed;
    return ColorComponents{1.0, 0.0, 1.0, 1.0};
}

}  // namespace larkspin
