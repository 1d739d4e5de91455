#include "Appearance/Fonts/TypographyFontStatus.hpp"

#include "Platform/Localization.hpp"

namespace larkspin {

std::string_view rawValue(TypographyFontRole role) {
    switch (role) {
        case TypographyFontRole::body:
            return "body";
        case TypographyFontRole::mono:
            return "mono";
        case TypographyFontRole::heading:
            return "heading";
    }
    return "body";
}

std::string_view rawValue(TypographyFontStatus::Kind kind) {
    switch (kind) {
        case TypographyFontStatus::Kind::defaultStack:
            return "defaultStack";
        case TypographyFontStatus::Kind::exact:
            return "exact";
        case TypographyFontStatus::Kind::weightMapped:
            return "weightMapped";
        case TypographyFontStatus::Kind::familyMissing:
            return "familyMissing";
    }
    return "defaultStack";
}

std::string TypographyFontStatus::message() const {
    const std::string effective = std::to_string(effectiveWeight);
    const std::string requested = std::to_string(requestedWeight);
    switch (kind) {
        case Kind::defaultStack:
            return L10n::format("typography.status.default", {effective});
        case Kind::exact:
            return L10n::format("typography.status.exact", {effectiveFamily, effective});
        case Kind::weightMapped:
            return L10n::format("typography.status.weight_mapped",
                                {effectiveFamily, requested, effective});
        case Kind::familyMissing:
            return L10n::format("typography.status.missing", {requestedFamily});
    }
    return {};
}

}  // namespace larkspin
