#pragma once

#include <string>

#include "Platform/Json/JSONValue.hpp"

namespace larkspin {

// The event "diagramRequest": the page asks for one diagram rendered in
// isolation. "themeVariables" must be present; any JSON value, null
// included, is passed on unchanged.
struct DiagramRequestPayload {
    std::string diagramID;
    std::string source;
    JSONValue themeVariables;

    bool operator==(const DiagramRequestPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("diagramID", self.diagramID);
        coder.field("source", self.source);
        coder.field("themeVariables", self.themeVariables);
    }
};

}  // namespace larkspin
