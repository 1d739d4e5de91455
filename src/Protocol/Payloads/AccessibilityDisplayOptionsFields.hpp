#pragma once

#include "Appearance/AccessibilityDisplayOptions.hpp"
#include "Platform/Json/PayloadCodec.hpp"

namespace larkspin {

// AccessibilityDisplayOptions is the payload of "setAccessibility": the three
// booleans, all required.
template <>
struct PayloadFields<AccessibilityDisplayOptions> {
    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("reduceMotion", self.reduceMotion);
        coder.field("reduceTransparency", self.reduceTransparency);
        coder.field("increaseContrast", self.increaseContrast);
    }
};

}  // namespace larkspin
