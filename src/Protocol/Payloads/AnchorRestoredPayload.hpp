#pragma once

#include <optional>
#include <string>

#include "Protocol/Payloads/ReadingAnchorStrategy.hpp"

namespace larkspin {

// How the page restored a reading anchor: the event "anchorRestored", or the
// "anchorRestored" member of a rendered reply.
struct AnchorRestoredPayload {
    ReadingAnchorStrategy strategy = ReadingAnchorStrategy::none;
    bool applied = false;
    std::optional<std::string> reason;
    std::string blockId;
    double scrollTop = 0;
    double elapsedMs = 0;

    bool operator==(const AnchorRestoredPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("strategy", self.strategy);
        coder.field("applied", self.applied);
        coder.field("reason", self.reason);
        coder.field("blockId", self.blockId);
        coder.field("scrollTop", self.scrollTop);
        coder.field("elapsedMs", self.elapsedMs);
    }
};

}  // namespace larkspin
