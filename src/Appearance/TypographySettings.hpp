#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// Text width of the page; the lengths behind the presets belong to the page.
enum class TypographyWidthPreset { comfortable, compact, wide };
// Line height of the page.
enum class TypographyLineHeightPreset { standard, compact, loose };
// How wide blocks (tables, code, diagrams) are laid out.
enum class WideBlockMode { aligned, full };

inline constexpr std::array<TypographyWidthPreset, 3> allWidthPresets = {
    TypographyWidthPreset::comfortable, TypographyWidthPreset::compact,
    TypographyWidthPreset::wide};
inline constexpr std::array<TypographyLineHeightPreset, 3> allLineHeightPresets = {
    TypographyLineHeightPreset::standard, TypographyLineHeightPreset::compact,
    TypographyLineHeightPreset::loose};
inline constexpr std::array<WideBlockMode, 2> allWideBlockModes = {WideBlockMode::aligned,
                                                                   WideBlockMode::full};

std::string_view rawValue(TypographyWidthPreset preset);
std::string_view rawValue(TypographyLineHeightPreset preset);
std::string_view rawValue(WideBlockMode mode);
// Exact raw values only (letter case counts).
std::optional<TypographyWidthPreset> widthPresetFromRaw(std::string_view raw);
std::optional<TypographyLineHeightPreset> lineHeightPresetFromRaw(std::string_view raw);
std::optional<WideBlockMode> wideBlockModeFromRaw(std::string_view raw);
// Looked up on each call.
std::string localizedName(TypographyWidthPreset preset);
std::string localizedName(TypographyLineHeightPreset preset);

// The reader's typography. A family is kept as chosen (possibly wrapped in
// double quotes); the empty family means the system's default font stack.
struct TypographySettings {
    static constexpr double minimumFontSize = 13;
    static constexpr double maximumFontSize = 24;
    static constexpr double defaultFontSize = 16;
    static constexpr std::int64_t defaultFontWeight = 400;
    // Longer than this (in bytes) is no font's family name.
    static constexpr std::size_t maximumFamilyLength = 256;

    double fontSizePx = defaultFontSize;
    TypographyWidthPreset widthPreset = TypographyWidthPreset::comfortable;
    TypographyLineHeightPreset lineHeightPreset = TypographyLineHeightPreset::standard;
    std::string bodyFamily;
    std::string monoFamily;
    std::string headingFamily;
    std::int64_t fontWeight = defaultFontWeight;
    WideBlockMode wideBlocks = WideBlockMode::aligned;

    static const TypographySettings defaults;

    // Half steps within 13…24; not a number gives 13, +∞ gives 24.
    static double clampFontSize(double size);
    // Whole hundreds within 100…900, halves rounded away from zero.
    static std::int64_t clampFontWeight(std::int64_t weight);
    // Size and weight clamped, families trimmed of white space and line
    // breaks; a family longer than maximumFamilyLength is the system stack.
    TypographySettings clamped() const;

    bool operator==(const TypographySettings&) const = default;
};

}  // namespace larkspin
