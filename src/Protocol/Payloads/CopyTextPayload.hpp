#pragma once

#include <string>

namespace larkspin {

// The event "copyText": text for the clipboard and what it is, as the page
// names it.
struct CopyTextPayload {
    std::string text;
    std::string kind;

    bool operator==(const CopyTextPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("text", self.text);
        coder.field("kind", self.kind);
    }
};

}  // namespace larkspin
