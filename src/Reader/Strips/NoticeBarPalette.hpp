#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Appearance/HexColor.hpp"
#include "Appearance/Theme.hpp"
#include "Reader/Strips/NoticeBarContent.hpp"

namespace larkspin {

// The notice bar's colours for a theme, a tone and an issue kind: the
// background is the page canvas lightly mixed with the separator, then tinted
// with the tone's accent by a share that grows with the issue's weight. Its
// buttons are drawn from the same colours, whatever the desktop's colour
// scheme: their fill is the background mixed with the text (more when
// hovered, more again when pressed), their label the text, their focus ring
// the accent.
struct NoticeBarPalette {
    ColorComponents background;
    ColorComponents text;
    ColorComponents accent;
    ColorComponents button;
    ColorComponents buttonHover;
    ColorComponents buttonActive;

    // The text's share of a button's fill at rest, hovered and pressed.
    static constexpr double buttonShare = 0.10;
    static constexpr double buttonHoverShare = 0.16;
    static constexpr double buttonActiveShare = 0.24;

    static NoticeBarPalette make(const Theme& theme, NoticeBarContent::Tone tone,
                                 ExternalIssueKind kind);

    // The tone's accent for a light or dark theme.
    static HexColor accentColor(NoticeBarContent::Tone tone, ThemeAppearance appearance);
    // The accent's share of the background: 0.10 missing, 0.14 permission,
    // 0.18 saveFailed, 0.12 for any other kind.
    static double accentShare(ExternalIssueKind kind);
    // Per sRGB component a·(1−f) + b·f; opaque.
    static ColorComponents mix(ColorComponents a, ColorComponents b, double fraction);

    // The style sheet of one bar: its background, its message's colour, its
    // icon's colour and its buttons in every state, for the classes the bar's
    // widgets carry.
    std::string css() const;

    bool operator==(const NoticeBarPalette&) const = default;
};

// "#rrggbb" of an opaque colour (components clamped to 0…1).
std::string cssHex(ColorComponents color);

// Everything the bar draws for one content, decided here so that it is the
// same in every view: the icon, the message, the buttons' titles and the
// colours.
struct NoticeBarPresentation {
    std::string iconName;  // a symbolic icon of the icon theme
    std::string message;
    std::vector<std::string> actionTitles;
    NoticeBarPalette palette;

    static NoticeBarPresentation make(const NoticeBarContent& content, const Theme& theme);
    // dialog-warning-symbolic, dialog-error-symbolic, view-refresh-symbolic.
    static std::string_view iconFor(NoticeBarContent::Tone tone);

    bool operator==(const NoticeBarPresentation&) const = default;
};

}  // namespace larkspin
