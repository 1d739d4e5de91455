#pragma once

#include <cstdint>
#include <string>

namespace larkspin {

// The event "activeHeading": the heading now at the top of the view.
struct ActiveHeadingPayload {
    std::string id;
    std::int64_t index = 0;

    bool operator==(const ActiveHeadingPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("id", self.id);
        coder.field("index", self.index);
    }
};

}  // namespace larkspin
