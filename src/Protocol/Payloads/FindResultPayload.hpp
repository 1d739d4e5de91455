#pragma once

#include <cstdint>

namespace larkspin {

// The reply "findResult" to "find" and "clearFind". A negative `activeIndex`
// means no active match.
struct FindResultPayload {
    std::int64_t matchCount = 0;
    std::int64_t activeIndex = -1;
    bool found = false;

    bool operator==(const FindResultPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("matchCount", self.matchCount);
        coder.field("activeIndex", self.activeIndex);
        coder.field("found", self.found);
    }
};

}  // namespace larkspin
