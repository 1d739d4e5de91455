#pragma once

#include <optional>

#include "Protocol/Payloads/ReadingAnchor.hpp"

namespace larkspin {

// The reply "anchor" to "captureAnchor": the page's current reading anchor,
// or none when it had no position to report.
struct AnchorPayload {
    std::optional<ReadingAnchor> anchor;

    bool operator==(const AnchorPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("anchor", self.anchor);
    }
};

}  // namespace larkspin
