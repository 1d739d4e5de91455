#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Appearance/TypographySettings.hpp"
#include "Platform/Json/RawValue.hpp"

// The typography enumerations travel as their own raw strings; these tables
// are built from the appearance layer's rawValue functions, so the strings
// are written down once.
namespace larkspin {

template <>
struct RawValueTable<TypographyWidthPreset> {
    static const std::array<std::pair<TypographyWidthPreset, std::string_view>, 3> entries;
};

template <>
struct RawValueTable<TypographyLineHeightPreset> {
    static const std::array<std::pair<TypographyLineHeightPreset, std::string_view>, 3> entries;
};

template <>
struct RawValueTable<WideBlockMode> {
    static const std::array<std::pair<WideBlockMode, std::string_view>, 2> entries;
};

}  // namespace larkspin
