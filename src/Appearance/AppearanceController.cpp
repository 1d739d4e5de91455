#include "Appearance/AppearanceController.hpp"

#include "Appearance/ThemeCatalog.hpp"
#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin {

AppearanceController::AppearanceController(UserDefaults& defaults, NotificationCenter& center,
                                           std::shared_ptr<DesktopAppearanceSource> desktop)
    : defaults_(defaults), center_(center), desktop_(std::move(desktop)) {
    if (desktop_) {
        // The observer is a member: it ends with the controller.
        desktopObservation_ = desktop_->observeChanges([this] { systemAppearanceDidChange(); });
    }
}

AppearanceMode AppearanceController::mode() const {
    const auto stored = defaults_.string(modeKey);
    if (!stored) return AppearanceMode::system;
    return appearanceModeFromRaw(*stored).value_or(AppearanceMode::system);
}

ThemeID AppearanceController::themeID(std::string_view key, ThemeAppearance expected,
                                      ThemeID fallback) const {
    const auto stored = defaults_.string(key);
    if (!stored) return fallback;
    const auto id = themeIDFromRaw(*stored);
    if (!id || ThemeCatalog::theme(*id).appearance != expected) return fallback;
    return *id;
}

ThemeID AppearanceController::selectedLightThemeID() const {
    return themeID(lightThemeKey, ThemeAppearance::light, ThemeID::porcelain);
}

ThemeID AppearanceController::selectedDarkThemeID() const {
    return themeID(darkThemeKey, ThemeAppearance::dark, ThemeID::graphite);
}

bool AppearanceController::systemIsDark() const {
    return desktop_ && desktop_->prefersDark();
}

ThemeAppearance AppearanceController::resolveAppearance(AppearanceMode mode, bool systemIsDark) {
    if (mode == AppearanceMode::dark || (mode == AppearanceMode::system && systemIsDark)) {
        return ThemeAppearance::dark;
    }
    return ThemeAppearance::light;
}

ThemeID AppearanceController::resolveThemeID(AppearanceMode mode, bool systemIsDark, ThemeID light,
                                             ThemeID dark) {
    return resolveAppearance(mode, systemIsDark) == ThemeAppearance::dark ? dark : light;
}

ThemeAppearance AppearanceController::effectiveAppearance() const {
    return resolveAppearance(mode(), systemIsDark());
}

ThemeID AppearanceController::currentThemeID() const {
    return resolveThemeID(mode(), systemIsDark(), selectedLightThemeID(), selectedDarkThemeID());
}

Theme AppearanceController::currentTheme() const {
    return ThemeCatalog::theme(currentThemeID());
}

void AppearanceController::select(ThemeID theme) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const ThemeAppearance appearance = ThemeCatalog::theme(theme).appearance;
    defaults_.setString(appearance == ThemeAppearance::light ? lightThemeKey : darkThemeKey,
                        std::string(rawValue(theme)));
    if (effectiveAppearance() != appearance) {
        const AppearanceMode newMode =
            appearance == ThemeAppearance::light ? AppearanceMode::light : AppearanceMode::dark;
        defaults_.setString(modeKey, std::string(rawValue(newMode)));
        AppLog::document.info("选择 %{public}s 主题，外观模式同步改为 %{public}s", rawValue(theme),
                              rawValue(newMode));
    }
    broadcast("选择主题 " + std::string(rawValue(theme)));
}

void AppearanceController::select(AppearanceMode newMode) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    defaults_.setString(modeKey, std::string(rawValue(newMode)));
    broadcast("外观模式 " + std::string(rawValue(newMode)));
}

void AppearanceController::systemAppearanceDidChange() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const ThemeID current = currentThemeID();
    if (!lastBroadcastThemeID_ || *lastBroadcastThemeID_ != current) {
        broadcast("系统外观变化");
    }
}

void AppearanceController::broadcast(std::string_view reason) {
    themeRevision_ += 1;
    lastBroadcastThemeID_ = currentThemeID();
    AppLog::document.info("外观变化（%{public}s）：主题 %{public}s revision=%ld", reason,
                          rawValue(*lastBroadcastThemeID_), themeRevision_);
    center_.post(didChangeNotification, this);
}

}  // namespace larkspin
