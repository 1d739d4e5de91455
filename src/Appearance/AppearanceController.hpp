#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Appearance/AppearanceMode.hpp"
#include "Appearance/DesktopAppearanceSource.hpp"
#include "Appearance/Theme.hpp"
#include "Appearance/ThemeID.hpp"
#include "Platform/NotificationCenter.hpp"

namespace larkspin {

class UserDefaults;

// Decides which theme is in force: the appearance mode (system, light, dark)
// combined with the desktop's dark preference picks the light or the dark
// slot, each of which remembers one theme. Keeps no copy of the settings: every
// answer reads the preference store. Every change is announced with
// "dev.corvantel.larkspin.appearanceDidChange" (sender: the controller).
// Main thread.
class AppearanceController {
public:
    static constexpr std::string_view didChangeNotification =
        "dev.corvantel.larkspin.appearanceDidChange";
    static constexpr std::string_view modeKey = "appearanceMode";
    static constexpr std::string_view lightThemeKey = "selectedLightThemeID";
    static constexpr std::string_view darkThemeKey = "selectedDarkThemeID";

    // `desktop` may be null: the desktop then counts as light. The controller
    // follows the desktop's changes for as long as it lives.
    AppearanceController(UserDefaults& defaults, NotificationCenter& center,
                         std::shared_ptr<DesktopAppearanceSource> desktop);
    AppearanceController(const AppearanceController&) = delete;
    AppearanceController& operator=(const AppearanceController&) = delete;

    // The program's controller, following the desktop's appearance; the
    // theme in force at its start counts as announced. Defined in the
    // desktop part (`larkspin_appearance_desktop`), which follows the desktop.
    static std::unique_ptr<AppearanceController> followingDesktop(UserDefaults& defaults,
                                                                  NotificationCenter& center);

    UserDefaults& defaults() const { return defaults_; }

    AppearanceMode mode() const;
    ThemeID selectedLightThemeID() const;
    ThemeID selectedDarkThemeID() const;
    // The theme stored under `key` when it names a theme of `expected`
    // appearance, else `fallback`.
    ThemeID themeID(std::string_view key, ThemeAppearance expected, ThemeID fallback) const;

    bool systemIsDark() const;
    ThemeAppearance effectiveAppearance() const;
    ThemeID currentThemeID() const;
    Theme currentTheme() const;

    static ThemeAppearance resolveAppearance(AppearanceMode mode, bool systemIsDark);
    static ThemeID resolveThemeID(AppearanceMode mode, bool systemIsDark, ThemeID light,
                                  ThemeID dark);

    // Remembers the theme in its appearance's slot; when that appearance is
    // not the one in force, the mode is switched to it. Always announces.
    void select(ThemeID theme);
    // Stores the mode; always announces, also when it was already in force.
    void select(AppearanceMode mode);

    // The desktop's preference may have changed: announces when the theme in
    // force is not the one last announced (or nothing was announced yet).
    void systemAppearanceDidChange();

    // Rises by one with every announcement; sent to the page with the theme.
    std::int64_t themeRevision() const { return themeRevision_; }
    std::optional<ThemeID> lastBroadcastThemeID() const { return lastBroadcastThemeID_; }

private:
    void broadcast(std::string_view reason);

    UserDefaults& defaults_;
    NotificationCenter& center_;
    std::shared_ptr<DesktopAppearanceSource> desktop_;
    NotificationObserver desktopObservation_;
    std::optional<ThemeID> lastBroadcastThemeID_;
    std::int64_t themeRevision_ = 0;
};

}  // namespace larkspin
