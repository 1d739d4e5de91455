#include "Settings/SettingsPages.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "Appearance/ThemeCatalog.hpp"
#include "Appearance/TypographySettings.hpp"
#include "Platform/Localization.hpp"

namespace larkspin {

std::string AppInfo::displayName() const { return name.empty() ? "Larkspin" : name; }

std::string AppInfo::version() const {
    return (shortVersion.empty() ? std::string("dev") : shortVersion) + " (" +
           (buildNumber.empty() ? std::string("0") : buildNumber) + ")";
}

std::string SettingsWindowFrame::text() const {
    std::string result = std::to_string(width) + " " + std::to_string(height);
    if (maximized) result += " maximized";
    return result;
}

namespace {
std::optional<int> wholeNumber(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}
}  // namespace

std::optional<SettingsWindowFrame> SettingsWindowFrame::parse(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        if (end > at) words.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (words.size() != 2 && !(words.size() == 3 && words[2] == "maximized")) return std::nullopt;
    const auto width = wholeNumber(words[0]);
    const auto height = wholeNumber(words[1]);
    if (!width || !height || *width <= 0 || *height <= 0 || *width > maximumSide ||
        *height > maximumSide) {
        return std::nullopt;
    }
    SettingsWindowFrame frame;
    frame.width = std::max(*width, minimumWidth);
    frame.height = std::max(*height, minimumHeight);
    frame.maximized = words.size() == 3;
    return frame;
}

std::optional<double> FontSizeSliderCommit::released(double value, double stored) {
    const bool wasDragging = dragging_;
    dragging_ = false;
    if (!wasDragging || value == stored) return std::nullopt;
    return value;
}

std::optional<double> FontSizeSliderCommit::paused(double value, double stored) const {
    if (dragging_ || value == stored) return std::nullopt;
    return value;
}

std::optional<double> fontSizeStep(double stored, int direction) {
    constexpr double low = TypographySettings::minimumFontSize;
    constexpr double high = TypographySettings::maximumFontSize;
    if (direction > 0) {
        if (!(stored < high)) return std::nullopt;
        return std::min(stored + 1, high);
    }
    if (!(stored > low)) return std::nullopt;
    return std::clamp(stored - 1, low, high);
}

std::string fontSizeLabel(double value) {
    const long long whole = std::isfinite(value) ? static_cast<long long>(std::trunc(value)) : 0;
    return L10n::format("%lld px", {std::to_string(whole)});
}

std::string weightTitle(std::int64_t weight) {
    const bool named = weight >= 100 && weight <= 800 && weight % 100 == 0;
    const std::string key = "typography.weight." + std::to_string(named ? weight : 900);
    return std::to_string(weight) + " " + L10n::text(key);
}

ThemeCardMarks themeCardMarks(ThemeID id, ThemeID current, ThemeID light, ThemeID dark) {
    ThemeCardMarks marks;
    marks.isCurrent = id == current;
    marks.isRemembered = !marks.isCurrent && (id == light || id == dark);
    return marks;
}

std::vector<ThemeID> themesOf(ThemeAppearance appearance) {
    std::vector<ThemeID> ids;
    for (ThemeID id : allThemeIDs) {
        if (ThemeCatalog::theme(id).appearance == appearance) ids.push_back(id);
    }
    return ids;
}

std::vector<std::string> familyOptions(const std::string& selection,
                                       const std::vector<std::string>& candidates) {
    std::vector<std::string> options = candidates;
    if (!selection.empty() && std::find(options.begin(), options.end(), selection) == options.end()) {
        options.insert(options.begin(), selection);
    }
    return options;
}

}  // namespace larkspin
