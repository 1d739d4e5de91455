#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Appearance/ThemeID.hpp"

namespace larkspin {

// What the settings pages decide, apart from their widgets.

// The program's name and version for the About page, from the build.
struct AppInfo {
    std::string name;
    std::string shortVersion;
    std::string buildNumber;

    // "Larkspin" when the name is empty.
    std::string displayName() const;
    // "<short> (<build>)", "dev" and "0" standing in for what is missing.
    std::string version() const;
};

// The remembered size of the settings window under "settingsWindowFrame":
// "<width> <height>" and " maximized" when it was. The desktop places
// windows itself (GTK 4 has no window position), so only the size returns.
struct SettingsWindowFrame {
    static constexpr std::string_view key = "settingsWindowFrame";
    static constexpr int minimumWidth = 900;
    static constexpr int minimumHeight = 648;
    // Beyond any screen: a larger stored value is not a size we wrote.
    static constexpr int maximumSide = 16384;

    int width = minimumWidth;
    int height = minimumHeight;
    bool maximized = false;

    std::string text() const;
    // Nothing for a text that is not such a frame; a size below the minimum
    // is raised to it.
    static std::optional<SettingsWindowFrame> parse(std::string_view text);

    bool operator==(const SettingsWindowFrame&) const = default;
};

// When the size slider stores its value: once when a drag ends, and for a
// change by keyboard or scroll wheel once the changes pause. A value equal
// to the stored size is never stored again.
class FontSizeSliderCommit {
public:
    static constexpr int pauseMilliseconds = 300;

    void pressed() { dragging_ = true; }
    bool dragging() const { return dragging_; }
    // The value to store when the pointer lets go.
    std::optional<double> released(double value, double stored);
    // A value change by the user: true when the pause timer is to (re)start
    // (not while dragging: the release stores).
    bool changed() const { return !dragging_; }
    // The pause ran out: the value to store.
    std::optional<double> paused(double value, double stored) const;

private:
    bool dragging_ = false;
};

// The size the stepper stores for one click, or nothing at the end of the
// range (13…24): up from 23.5 gives 24, up from 24 nothing.
std::optional<double> fontSizeStep(double stored, int direction);

// The size label: the whole pixels of `value` (the fraction dropped) and " px".
std::string fontSizeLabel(double value);

// A weight's name in the pickers: "400 常规"; any weight off the nine named
// ones is named as 900.
std::string weightTitle(std::int64_t weight);

// A theme card's marks: the theme in force, or a remembered pick that is not.
struct ThemeCardMarks {
    bool isCurrent = false;
    bool isRemembered = false;
    bool operator==(const ThemeCardMarks&) const = default;
};
ThemeCardMarks themeCardMarks(ThemeID id, ThemeID current, ThemeID light, ThemeID dark);
// The catalogue's themes of one appearance, in declaration order.
std::vector<ThemeID> themesOf(ThemeAppearance appearance);

// A font picker's family names after "系统默认": the candidates, with the
// stored family in front when it is not among them (so it stays shown).
std::vector<std::string> familyOptions(const std::string& selection,
                                       const std::vector<std::string>& candidates);

}  // namespace larkspin
