#include "Editor/EditorLayout.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include <map>

#include "Appearance/Fonts/FontResolver.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"

namespace larkspin {

EditorTheme EditorTheme::from(const Theme& theme) {
    return EditorTheme{theme.id,
                       theme.appearance,
                       theme.web.canvas,
                       theme.web.text,
                       theme.web.textSecondary,
                       theme.content.headingColor,
                       theme.content.codeText,
                       theme.content.codeBackground,
                       theme.content.quoteText,
                       theme.content.quoteBorder,
                       theme.web.link,
                       theme.web.selection,
                       theme.window.separator};
}

namespace EditorLayout {

int leftInset(bool showsLineNumbers, double gutterWidth) {
    return showsLineNumbers ? static_cast<int>(std::ceil(gutterWidth)) + textInset : textInset;
}

int fontSize(double fontSizePx) {
    if (!std::isfinite(fontSizePx)) return fontSizePx > 0 ? 28 : 10;
    return static_cast<int>(std::clamp(std::round(fontSizePx * 0.8125), 10.0, 28.0));
}

double gutterWidth(std::int64_t lineCount, double digitWidth) {
    int digits = 1;
    for (std::int64_t n = std::max<std::int64_t>(lineCount, 0); n >= 10; n /= 10) ++digits;
    return std::ceil(digitWidth * std::max(digits, 3)) + 20;
}

bool gutterWidthChanged(double current, double updated) { return std::abs(current - updated) > 0.5; }

}  // namespace EditorLayout

EditorPositioning EditorPositioning::forEntering(std::optional<std::int64_t> anchorLine, bool editHere,
                                                 std::optional<TextRange> savedSelection,
                                                 std::int64_t textLength) {
    if (editHere && anchorLine && *anchorLine >= 1) return {EditHere{*anchorLine}};
    if (savedSelection && savedSelection->location >= 0 && savedSelection->length >= 0 &&
        savedSelection->location + savedSelection->length <= textLength) {
        return {RestoredSelection{*savedSelection}};
    }
    if (!anchorLine || *anchorLine < 1) return {Top{}};
    return {AnchorLine{*anchorLine}};
}

std::string EditorPositioning::description() const {
    if (const auto* a = std::get_if<AnchorLine>(&value)) return fmt::format("anchorLine({})", a->line);
    if (const auto* r = std::get_if<RestoredSelection>(&value)) {
        return fmt::format("restoredSelection({}, {})", r->range.location, r->range.length);
    }
    if (const auto* e = std::get_if<EditHere>(&value)) return fmt::format("editHere({})", e->line);
    return "top";
}

}  // namespace larkspin

namespace larkspin::EditorFont {

namespace {

constexpr std::string_view fallback = "monospace";

std::string trimmed(std::string_view requested) {
    const auto first = requested.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = requested.find_last_not_of(" \t\r\n");
    return std::string(requested.substr(first, last - first + 1));
}

// The families worked out so far, by trimmed request. Main thread.
std::map<std::string, std::string, std::less<>>& prepared() {
    static std::map<std::string, std::string, std::less<>> families;
    return families;
}

}  // namespace

Task<void> prepare(std::string requested) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    std::string key = trimmed(requested);
    if (key.empty() || prepared().contains(key)) co_return;
    auto workOut = [key] { return family(key); };
    std::string drawn = co_await runOn(WorkerPool::shared(), std::move(workOut));
    prepared().insert_or_assign(std::move(key), std::move(drawn));
}

std::optional<std::string> knownFamily(std::string_view requested) {
    const std::string key = trimmed(requested);
    if (key.empty()) return std::string(fallback);
    if (const auto found = prepared().find(key); found != prepared().end()) return found->second;
    return std::nullopt;
}

std::string preparedFamily(std::string_view requested) {
    if (auto known = knownFamily(requested)) return std::move(*known);
    std::string key = trimmed(requested);
    std::string drawn = family(key);
    prepared().emplace(std::move(key), drawn);
    return drawn;
}

std::string family(std::string_view requested) {
    const std::string name = trimmed(requested);
    if (name.empty()) return std::string(fallback);
    const auto resolved = FontResolver::resolve(name);
    if (!resolved) return std::string(fallback);
    const bool serif = std::any_of(resolved->faces.begin(), resolved->faces.end(),
                                   [](const FontResolver::Face& face) { return face.isSerif; });
    if (serif || FontResolver::nameLooksSerif(resolved->familyName)) return std::string(fallback);
    return resolved->familyName;
}

}  // namespace larkspin::EditorFont
