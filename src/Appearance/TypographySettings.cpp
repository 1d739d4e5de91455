#include "Appearance/TypographySettings.hpp"

#include <algorithm>
#include <cmath>

#include "Platform/Text/TextTrimming.hpp"
#include "Platform/Localization.hpp"

namespace larkspin {

const TypographySettings TypographySettings::defaults{};

std::string_view rawValue(TypographyWidthPreset preset) {
    switch (preset) {
        case TypographyWidthPreset::comfortable:
            return "comfortable";
        case TypographyWidthPreset::compact:
            return "compact";
        case TypographyWidthPreset::wide:
            return "wide";
    }
    return "comfortable";
}

std::string_view rawValue(TypographyLineHeightPreset preset) {
    switch (preset) {
        case TypographyLineHeightPreset::standard:
            return "standard";
        case TypographyLineHeightPreset::compact:
            return "compact";
        case TypographyLineHeightPreset::loose:
            return "loose";
    }
    return "standard";
}

std::string_view rawValue(WideBlockMode mode) {
    return mode == WideBlockMode::full ? "full" : "aligned";
}

std::optional<TypographyWidthPreset> widthPresetFromRaw(std::string_view raw) {
    for (auto p : allWidthPresets) {
        if (rawValue(p) == raw) return p;
    }
    return std::nullopt;
}

std::optional<TypographyLineHeightPreset> lineHeightPresetFromRaw(std::string_view raw) {
    for (auto p : allLineHeightPresets) {
        if (rawValue(p) == raw) return p;
    }
    return std::nullopt;
}

std::optional<WideBlockMode> wideBlockModeFromRaw(std::string_view raw) {
    for (auto m : allWideBlockModes) {
        if (rawValue(m) == raw) return m;
    }
    return std::nullopt;
}

std::string localizedName(TypographyWidthPreset preset) {
    switch (preset) {
        case TypographyWidthPreset::comfortable:
            return L10n::text("width.comfortable");
        case TypographyWidthPreset::compact:
            return L10n::text("preset.compact");
        case TypographyWidthPreset::wide:
            return L10n::text("preset.loose");
    }
    return {};
}

std::string localizedName(TypographyLineHeightPreset preset) {
    switch (preset) {
        case TypographyLineHeightPreset::standard:
            return L10n::text("line_height.standard");
        case TypographyLineHeightPreset::compact:
            return L10n::text("preset.compact");
        case TypographyLineHeightPreset::loose:
            return L10n::text("preset.loose");
    }
    return {};
}

double TypographySettings::clampFontSize(double size) {
    if (std::isnan(size)) return minimumFontSize;
    if (std::isinf(size)) return size > 0 ? maximumFontSize : minimumFontSize;
    const double halves = std::round(size * 2.0);  // std::round: halves away from zero
    return std::clamp(halves / 2.0, minimumFontSize, maximumFontSize);
}

std::int64_t TypographySettings::clampFontWeight(std::int64_t weight) {
    const double hundreds = std::round(static_cast<double>(weight) / 100.0);
    return static_cast<std::int64_t>(std::clamp(hundreds, 1.0, 9.0)) * 100;
}

TypographySettings TypographySettings::clamped() const {
    TypographySettings out = *this;
    out.fontSizePx = clampFontSize(fontSizePx);
    out.fontWeight = clampFontWeight(fontWeight);
    auto family = [](const std::string& name) {
        return name.size() > maximumFamilyLength ? std::string() : trimmedWhitespace(name);
    };
    out.bodyFamily = family(bodyFamily);
    out.monoFamily = family(monoFamily);
    out.headingFamily = family(headingFamily);
    return out;
}

}  // namespace larkspin
