#pragma once

#include <optional>
#include <string>

namespace larkspin {

// The request "setBackground", sent after the theme's reply: the theme's
// canvas colour as hex text and "dark" or "light" by the theme's appearance
// (the window controller always fills it).
struct SetBackgroundPayload {
    std::string pageBackground;
    std::optional<std::string> colorScheme;

    bool operator==(const SetBackgroundPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("pageBackground", self.pageBackground);
        coder.field("colorScheme", self.colorScheme);
    }
};

}  // namespace larkspin
