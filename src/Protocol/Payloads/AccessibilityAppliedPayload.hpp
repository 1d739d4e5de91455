#pragma once

#include "Protocol/Payloads/AccessibilityDisplayOptionsFields.hpp"

namespace larkspin {

// The reply "accessibilityApplied": the display options the page applied,
// the same three booleans as the request "setAccessibility", coded the same.
using AccessibilityAppliedPayload = AccessibilityDisplayOptions;

}  // namespace larkspin
