#pragma once

#include <string>

namespace larkspin {

// The reply "backgroundApplied": the background the page set, the colour and
// colour scheme it computed afterwards.
struct BackgroundAppliedPayload {
    std::string pageBackground;
    std::string computedBackground;
    std::string computedColorScheme;

    bool operator==(const BackgroundAppliedPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("pageBackground", self.pageBackground);
        coder.field("computedBackground", self.computedBackground);
        coder.field("computedColorScheme", self.computedColorScheme);
    }
};

}  // namespace larkspin
