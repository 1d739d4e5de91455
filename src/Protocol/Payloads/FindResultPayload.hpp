#pragma once

#include <cstdint>
#include <optional>

namespace larkspin {

// The reply "findResult" to "find" and "clearFind". A negative `activeIndex`
// means no active match; `partial` that the page counted a document still
// going in, whose count is not final.
struct FindResultPayload {
    std::int64_t matchCount = 0;
    std::int64_t activeIndex = -1;
    bool found = false;
    std::optional<bool> partial;

    bool operator==(const FindResultPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("matchCount", self.matchCount);
        coder.field("activeIndex", self.activeIndex);
        coder.field("found", self.found);
        coder.field("partial", self.partial);
    }
};

}  // namespace larkspin
