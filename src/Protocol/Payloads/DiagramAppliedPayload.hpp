#pragma once

#include <string>

namespace larkspin {

// The page's reply "diagramApplied"; `accepted` false: the page no longer
// waits for that diagram.
struct DiagramAppliedPayload {
    std::string diagramID;
    bool accepted = false;

    bool operator==(const DiagramAppliedPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("diagramID", self.diagramID);
        coder.field("accepted", self.accepted);
    }
};

}  // namespace larkspin
