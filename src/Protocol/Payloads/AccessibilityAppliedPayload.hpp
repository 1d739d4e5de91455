#pragma once

namespace larkspin {

// The reply "accessibilityApplied": the display options the page applied.
struct AccessibilityAppliedPayload {
    bool reduceMotion = false;
    bool reduceTransparency = false;
    bool increaseContrast = false;

    bool operator==(const AccessibilityAppliedPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("reduceMotion", self.reduceMotion);
        coder.field("reduceTransparency", self.reduceTransparency);
        coder.field("increaseContrast", self.increaseContrast);
    }
};

}  // namespace larkspin
