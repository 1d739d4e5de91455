#include "Reader/Strips/NoticeBarPalette.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace larkspin {

namespace {

using Tone = NoticeBarContent::Tone;

constexpr double kSeparatorShare = 0.12;

int channel(double value) {
    return static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

}  // namespace

std::string cssHex(ColorComponents color) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", channel(color.red), channel(color.green),
                  channel(color.blue));
    return text;
}

HexColor NoticeBarPalette::accentColor(Tone tone, ThemeAppearance appearance) {
    const bool dark = appearance == ThemeAppearance::dark;
    switch (tone) {
        case Tone::warning:
            return HexColor(dark ? "#FFB45C" : "#9C4E00");
        case Tone::error:
            return HexColor(dark ? "#FF887F" : "#B33D31");
        case Tone::info:
            return HexColor(dark ? "#8ABEFF" : "#225DAD");
    }
    return HexColor(dark ? "#FFB45C" : "#9C4E00");
}

double NoticeBarPalette::accentShare(ExternalIssueKind kind) {
    if (kind == ExternalIssueKind::missing) return 0.10;
    if (kind == ExternalIssueKind::permission) return 0.14;
    if (kind == ExternalIssueKind::saveFailed) return 0.18;
    return 0.12;
}

ColorComponents NoticeBarPalette::mix(ColorComponents a, ColorComponents b, double fraction) {
    const auto blend = [fraction](double x, double y) { return x * (1 - fraction) + y * fraction; };
    return {blend(a.red, b.red), blend(a.green, b.green), blend(a.blue, b.blue), 1.0};
}

NoticeBarPalette NoticeBarPalette::make(const Theme& theme, Tone tone, ExternalIssueKind kind) {
    const ColorComponents accent = accentColor(tone, theme.appearance).nativeColor();
    const ColorComponents base =
        mix(theme.web.canvas.nativeColor(), theme.window.separator.nativeColor(), kSeparatorShare);
    NoticeBarPalette palette;
    palette.background = mix(base, accent, accentShare(kind));
    palette.text = theme.web.text.nativeColor();
    palette.accent = accent;
    palette.button = mix(palette.background, palette.text, buttonShare);
    palette.buttonHover = mix(palette.background, palette.text, buttonHoverShare);
    palette.buttonActive = mix(palette.background, palette.text, buttonActiveShare);
    return palette;
}

std::string NoticeBarPalette::css() const {
    const std::string ink = cssHex(text);
    const std::string ring = cssHex(accent);
    // The buttons' look replaces the theme's outright (no image, shadow or
    // border of the desktop's scheme shows through).
    return ".notice-bar { background-color: " + cssHex(background) + "; }\n" +
           ".notice-bar-message { color: " + ink + "; }\n" +
           ".notice-bar-icon { color: " + ring + "; }\n" +
           ".notice-bar-button { color: " + ink + "; background-color: " + cssHex(button) +
           "; background-image: none; border: none; box-shadow: none; text-shadow: none; }\n" +
           ".notice-bar-button:hover { background-color: " + cssHex(buttonHover) + "; }\n" +
           ".notice-bar-button:active { background-color: " + cssHex(buttonActive) + "; }\n" +
           ".notice-bar-button:focus-visible { outline: 2px solid " + ring +
           "; outline-offset: -2px; }\n";
}

std::string_view NoticeBarPresentation::iconFor(Tone tone) {
    switch (tone) {
        case Tone::warning:
            return "dialog-warning-symbolic";
        case Tone::error:
            return "dialog-error-symbolic";
        case Tone::info:
            return "view-refresh-symbolic";
    }
    return "dialog-warning-symbolic";
}

NoticeBarPresentation NoticeBarPresentation::make(const NoticeBarContent& content,
                                                  const Theme& theme) {
    NoticeBarPresentation presentation;
    presentation.iconName = std::string(iconFor(content.tone));
    presentation.message = content.message;
    for (const auto& action : content.actions) presentation.actionTitles.push_back(action.title);
    presentation.palette = NoticeBarPalette::make(theme, content.tone, content.kind);
    return presentation;
}

}  // namespace larkspin
