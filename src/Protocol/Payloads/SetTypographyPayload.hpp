#pragma once

#include <cstdint>
#include <string>

#include "Appearance/TypographySettings.hpp"
#include "Protocol/Payloads/TypographyRawValues.hpp"

namespace larkspin {

// The request "setTypography": a TypographySettings value field for field.
// Decoding needs all eight keys. Equality tells the reader view whether a
// reply still answers the settings it remembers.
struct SetTypographyPayload {
    double fontSizePx = TypographySettings::defaultFontSize;
    TypographyWidthPreset widthPreset = TypographyWidthPreset::comfortable;
    TypographyLineHeightPreset lineHeightPreset = TypographyLineHeightPreset::standard;
    std::string bodyFamily;  // the quoted family really used, or empty
    std::string monoFamily;
    std::string headingFamily;
    std::int64_t fontWeight = TypographySettings::defaultFontWeight;
    WideBlockMode wideBlocks = WideBlockMode::aligned;

    // The request for these settings (the typography controller's
    // effectiveSettings, as the window controllers send them).
    static SetTypographyPayload from(const TypographySettings& settings);

    bool operator==(const SetTypographyPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("fontSizePx", self.fontSizePx);
        coder.field("widthPreset", self.widthPreset);
        coder.field("lineHeightPreset", self.lineHeightPreset);
        coder.field("bodyFamily", self.bodyFamily);
        coder.field("monoFamily", self.monoFamily);
        coder.field("headingFamily", self.headingFamily);
        coder.field("fontWeight", self.fontWeight);
        coder.field("wideBlocks", self.wideBlocks);
    }
};

}  // namespace larkspin
