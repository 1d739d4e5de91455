#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Appearance/HexColor.hpp"
#include "Appearance/Theme.hpp"
#include "Model/TextStorage.hpp"
#include "Platform/Async/Task.hpp"

namespace larkspin {

// The editor's colours, taken from the application theme.
struct EditorTheme {
    ThemeID themeID = ThemeID::porcelain;
    ThemeAppearance appearance = ThemeAppearance::light;
    HexColor background, text, textSecondary, heading, code, codeBackground, quote, quoteBorder, link,
        selection, separator;

    static EditorTheme from(const Theme& theme);
    bool operator==(const EditorTheme&) const = default;
};

namespace EditorLayout {

// Around the text: the right margin and the top and bottom stay fixed; the
// left one grows by the gutter's width while line numbers are shown (the
// gutter, then the text view's own left margin of `textInset`).
inline constexpr int textInset = 14;
inline constexpr int verticalInset = 12;
int leftInset(bool showsLineNumbers, double gutterWidth);

// The editor's font size in logical pixels from the reading page's size:
// 81.25 % of it, halves away from zero, within 10…28.
int fontSize(double fontSizePx);

// The width reserved for line numbers: the widest digit times the digits of
// the line count (at least three), rounded up, plus 20: half of it on each
// side of the right-aligned numbers.
double gutterWidth(std::int64_t lineCount, double digitWidth);
inline constexpr int gutterPadding = 10;
// Whether a new width is worth a new layout.
bool gutterWidthChanged(double current, double updated);

}  // namespace EditorLayout

// Where the caret goes when editing mode is entered.
struct EditorPositioning {
    struct AnchorLine {
        std::int64_t line;
        bool operator==(const AnchorLine&) const = default;
    };
    struct RestoredSelection {
        TextRange range;
        bool operator==(const RestoredSelection&) const = default;
    };
    struct EditHere {
        std::int64_t line;
        bool operator==(const EditHere&) const = default;
    };
    struct Top {
        bool operator==(const Top&) const = default;
    };
    std::variant<AnchorLine, RestoredSelection, EditHere, Top> value = Top{};

    // The first rule that applies: an edit-here request for a line; the
    // selection kept when editing was last left, when it still fits the text;
    // the top without a reading line; the reading line.
    static EditorPositioning forEntering(std::optional<std::int64_t> anchorLine, bool editHere,
                                         std::optional<TextRange> savedSelection, std::int64_t textLength);
    // For the log: the case with its value.
    std::string description() const;
    bool operator==(const EditorPositioning&) const = default;
};

}  // namespace larkspin

namespace larkspin::EditorFont {

// The family the editor draws with: the installed family for `family`
// (trimmed), or "monospace" when it is empty, unknown or serif (by any face
// or by its name). Asks the installed fonts: not on the main thread.
std::string family(std::string_view family);

// On the main thread: works `family` out on the shared workers unless that
// was done before, and keeps the answer for `preparedFamily`.
Task<void> prepare(std::string family);
// What `prepare` found for `family`; nothing when it was not prepared.
std::optional<std::string> knownFamily(std::string_view family);
// The same, working a family not prepared out here.
std::string preparedFamily(std::string_view family);

}  // namespace larkspin::EditorFont
