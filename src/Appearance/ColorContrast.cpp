#include "Appearance/ColorContrast.hpp"

#include <algorithm>
#include <cmath>

namespace larkspin::ColorContrast {

namespace {

double linear(double channel) {
    const double c = std::isfinite(channel) ? std::clamp(channel, 0.0, 1.0) : 0.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

double luminance(const ColorComponents& color) {
    return 0.2126 * linear(color.red) + 0.7152 * linear(color.green) + 0.0722 * linear(color.blue);
}

double ratio(const ColorComponents& a, const ColorComponents& b) {
    const double first = luminance(a), second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

ColorComponents over(const ColorComponents& top, const ColorComponents& bottom) {
    const double alpha = std::isfinite(top.alpha) ? std::clamp(top.alpha, 0.0, 1.0) : 1.0;
    const auto blend = [alpha](double t, double b) { return t * alpha + b * (1 - alpha); };
    return {blend(top.red, bottom.red), blend(top.green, bottom.green), blend(top.blue, bottom.blue), 1.0};
}

}  // namespace larkspin::ColorContrast
