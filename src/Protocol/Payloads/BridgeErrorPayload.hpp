#pragma once

#include <string>

namespace larkspin {

// The page's "error": an event of its own, or the failure reply to any request.
struct BridgeErrorPayload {
    std::string code;
    std::string message;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("code", self.code);
        coder.field("message", self.message);
    }
};

}  // namespace larkspin
