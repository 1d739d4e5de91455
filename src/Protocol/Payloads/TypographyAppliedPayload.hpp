#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Appearance/TypographySettings.hpp"
#include "Protocol/Payloads/TypographyRawValues.hpp"

namespace larkspin {

// The reply "typographyApplied": what the page put in force. `rejected`
// names the request fields the page refused (empty: it took all).
struct TypographyAppliedPayload {
    double fontSizePx = 0;
    TypographyWidthPreset widthPreset = TypographyWidthPreset::comfortable;
    TypographyLineHeightPreset lineHeightPreset = TypographyLineHeightPreset::standard;
    double proseWidthRem = 0;
    double lineHeight = 0;
    std::string bodyFamily;
    std::string monoFamily;
    std::string headingFamily;
    std::int64_t fontWeight = 0;
    std::int64_t headingWeight = 0;
    std::optional<WideBlockMode> wideBlocks;
    std::vector<std::string> rejected;

    bool operator==(const TypographyAppliedPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("fontSizePx", self.fontSizePx);
        coder.field("widthPreset", self.widthPreset);
        coder.field("lineHeightPreset", self.lineHeightPreset);
        coder.field("proseWidthRem", self.proseWidthRem);
        coder.field("lineHeight", self.lineHeight);
        coder.field("bodyFamily", self.bodyFamily);
        coder.field("monoFamily", self.monoFamily);
        coder.field("headingFamily", self.headingFamily);
        coder.field("fontWeight", self.fontWeight);
        coder.field("headingWeight", self.headingWeight);
        coder.field("wideBlocks", self.wideBlocks);
        coder.field("rejected", self.rejected);
    }
};

}  // namespace larkspin
