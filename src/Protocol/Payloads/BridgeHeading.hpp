#pragma once

#include <cstdint>
#include <string>

namespace larkspin {

// One heading of a rendered document, in document order; `id` is its element
// id in the page, the key of "scrollToHeading" and "activeHeading".
struct BridgeHeading {
    std::int64_t level = 0;
    std::string text;
    std::string id;

    bool operator==(const BridgeHeading&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("level", self.level);
        coder.field("text", self.text);
        coder.field("id", self.id);
    }
};

}  // namespace larkspin
