#pragma once

#include <string>

namespace larkspin {

// The reply "scrolled" to "scrollToHeading" (whose payload is {"id": …}).
// `found` false is a valid answer: the page has no heading with that id.
struct ScrolledPayload {
    std::string id;
    bool found = false;

    bool operator==(const ScrolledPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("id", self.id);
        coder.field("found", self.found);
    }
};

}  // namespace larkspin
