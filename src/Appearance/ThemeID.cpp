#include "Appearance/ThemeID.hpp"

namespace larkspin {

std::string_view rawValue(ThemeID id) {
    switch (id) {
        case ThemeID::porcelain:
            return "porcelain";
        case ThemeID::linen:
            return "linen";
        case ThemeID::mist:
            return "mist";
        case ThemeID::graphite:
            return "graphite";
        case ThemeID::midnight:
            return "midnight";
        case ThemeID::forest:
            return "forest";
    }
    return "porcelain";
}

std::optional<ThemeID> themeIDFromRaw(std::string_view raw) {
    for (auto id : allThemeIDs) {
        if (rawValue(id) == raw) return id;
    }
    return std::nullopt;
}

std::string_view localizedNameKey(ThemeID id) {
    switch (id) {
        case ThemeID::porcelain:
            return "theme.porcelain.name";
        case ThemeID::linen:
            return "theme.linen.name";
        case ThemeID::mist:
            return "theme.mist.name";
        case ThemeID::graphite:
            return "theme.graphite.name";
        case ThemeID::midnight:
            return "theme.midnight.name";
        case ThemeID::forest:
            return "theme.forest.name";
    }
    return "theme.porcelain.name";
}

std::string_view rawValue(ThemeAppearance appearance) {
    return appearance == ThemeAppearance::dark ? "dark" : "light";
}

std::optional<ThemeAppearance> themeAppearanceFromRaw(std::string_view raw) {
    if (raw == "light") return ThemeAppearance::light;
    if (raw == "dark") return ThemeAppearance::dark;
    return std::nullopt;
}

}  // namespace larkspin
