#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Appearance/Fonts/FontResolver.hpp"

namespace larkspin {

// The three places the reader draws text with a family of its own.
enum class TypographyFontRole { body, mono, heading };

inline constexpr TypographyFontRole allTypographyFontRoles[] = {
    TypographyFontRole::body, TypographyFontRole::mono, TypographyFontRole::heading};

std::string_view rawValue(TypographyFontRole role);

// How a role's chosen family will really be drawn on this machine.
struct TypographyFontStatus {
    enum class Kind { defaultStack, exact, weightMapped, familyMissing };

    TypographyFontRole role = TypographyFontRole::body;
    Kind kind = Kind::defaultStack;
    std::string requestedFamily;
    std::string effectiveFamily;  // empty: the system's default font stack
    std::int64_t requestedWeight = 400;
    std::int64_t effectiveWeight = 400;
    std::vector<int> availableWeights;
    std::optional<FontResolver::Location> location;

    // One localised line for the settings window.
    std::string message() const;

    bool operator==(const TypographyFontStatus&) const = default;
};

std::string_view rawValue(TypographyFontStatus::Kind kind);

}  // namespace larkspin
