#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace larkspin {

// The six built-in colour themes, in the order menus and pickers list them.
// The raw value is what is stored in the preferences, logged and sent to the
// page.
enum class ThemeID { porcelain, linen, mist, graphite, midnight, forest };

inline constexpr std::array<ThemeID, 6> allThemeIDs = {ThemeID::porcelain, ThemeID::linen,
                                                       ThemeID::mist,      ThemeID::graphite,
                                                       ThemeID::midnight,  ThemeID::forest};

std::string_view rawValue(ThemeID id);
// Any text other than one of the six raw values yields nothing.
std::optional<ThemeID> themeIDFromRaw(std::string_view raw);
// The localisation key of the theme's name ("theme.porcelain.name", …).
std::string_view localizedNameKey(ThemeID id);

// Whether a theme is meant for the light or the dark appearance.
enum class ThemeAppearance { light, dark };

std::string_view rawValue(ThemeAppearance appearance);
std::optional<ThemeAppearance> themeAppearanceFromRaw(std::string_view raw);

}  // namespace larkspin
