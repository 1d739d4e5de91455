#include "Window/WindowStyle.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace larkspin::WindowStyle {

namespace {

int channel(double value) {
    if (!std::isfinite(value)) return 0;
    return static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

}  // namespace

ColorComponents sidebarBackground(const Theme& theme) {
    const auto& gradient = theme.background.gradient;
    if (gradient && !gradient->empty()) {
        // min_element keeps the first of equal positions.
        const auto first = std::min_element(
            gradient->begin(), gradient->end(),
            [](const GradientStop& a, const GradientStop& b) { return a.position < b.position; });
        return first->color.nativeColor();
    }
    return theme.background.solid.nativeColor();
}

bool isDark(const Theme& theme) {
    return theme.appearance == ThemeAppearance::dark;
}

std::string cssColor(const ColorComponents& color) {
    const double alpha = std::isfinite(color.alpha) ? std::clamp(color.alpha, 0.0, 1.0) : 1.0;
    return fmt::format("rgba({},{},{},{:.3f})", channel(color.red), channel(color.green),
                       channel(color.blue), alpha);
}

std::string css(const Theme& theme) {
    const std::string window = cssColor(theme.window.windowBackground.nativeColor());
    const std::string sidebar = cssColor(sidebarBackground(theme));
    const std::string separator = cssColor(theme.window.separator.nativeColor());
    const std::string focus = cssColor(theme.web.focus.nativeColor());
    // Where the keys go, once the keyboard moves the focus: the page itself
    // (its own elements draw their rings inside it), as the focus reaches it
    // by Tab or F6 and until the next other key (`KeyboardFocusRing`), and
    // the outline's row draw a ring in the theme's focus colour; neither
    // draws one otherwise.
    return fmt::format(
        "window.larkspin-document {{ background-color: {0}; }}\n"
        ".larkspin-outline, .larkspin-outline listview {{ background-color: {1}; }}\n"
        "paned.larkspin-page > separator {{ background-color: {2}; }}\n"
        "paned.larkspin-page webkitwebview.larkspin-keyboard-focus:focus-visible {{ outline: 2px solid {3}; outline-offset: -2px; }}\n"
        ".larkspin-outline treeexpander:focus-visible {{ outline: 2px solid {3}; outline-offset: -2px; "
        "border-radius: 6px; }}\n",
        window, sidebar, separator, focus);
}

}  // namespace larkspin::WindowStyle
