#include "Appearance/AppearanceMode.hpp"

#include "Platform/Localization.hpp"

namespace larkspin {

std::string_view rawValue(AppearanceMode mode) {
    switch (mode) {
        case AppearanceMode::system:
            return "system";
        case AppearanceMode::light:
            return "light";
        case AppearanceMode::dark:
            return "dark";
    }
    return "system";
}

std::optional<AppearanceMode> appearanceModeFromRaw(std::string_view raw) {
    for (auto mode : allAppearanceModes) {
        if (rawValue(mode) == raw) return mode;
    }
    return std::nullopt;
}

std::string localizedName(AppearanceMode mode) {
    switch (mode) {
        case AppearanceMode::system:
            return L10n::text("appearance.system");
        case AppearanceMode::light:
            return L10n::text("appearance.light");
        case AppearanceMode::dark:
            return L10n::text("appearance.dark");
    }
    return {};
}

}  // namespace larkspin
