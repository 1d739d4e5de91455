#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// Follow the desktop, or always light, or always dark.
enum class AppearanceMode { system, light, dark };

inline constexpr std::array<AppearanceMode, 3> allAppearanceModes = {
    AppearanceMode::system, AppearanceMode::light, AppearanceMode::dark};

std::string_view rawValue(AppearanceMode mode);
std::optional<AppearanceMode> appearanceModeFromRaw(std::string_view raw);
// Looked up on each call.
std::string localizedName(AppearanceMode mode);

}  // namespace larkspin
