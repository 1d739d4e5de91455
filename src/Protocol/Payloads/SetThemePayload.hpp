#pragma once

#include <cstdint>
#include <string>

#include "Appearance/Theme.hpp"

namespace larkspin {

// The request "setTheme": the theme's raw identifier, the appearance
// controller's theme revision when sent, and the theme's CSS custom
// properties after the accessibility options were merged in.
struct SetThemePayload {
    std::string themeID;
    std::int64_t themeRevision = 0;
    CSSVariables tokens;

    bool operator==(const SetThemePayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("themeID", self.themeID);
        coder.field("themeRevision", self.themeRevision);
        coder.field("tokens", self.tokens);
    }
};

}  // namespace larkspin
