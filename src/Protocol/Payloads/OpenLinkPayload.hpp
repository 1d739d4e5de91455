#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "Platform/Json/RawValue.hpp"

namespace larkspin {

// The event "openLink": a link clicked in the rendered document. The
// navigation policy turns it into a link action.
struct OpenLinkPayload {
    // The page's classification of the link.
    enum class Kind {
        external,  // an address with a scheme
        relative,  // a path relative to the document
        fragment,  // a "#" reference inside the document
        file,      // a file address
    };

    // Modifier keys held at the click (Ctrl, Alt, Shift on this desktop).
    struct Modifiers {
        bool command = false;
        bool option = false;
        bool shift = false;

        bool operator==(const Modifiers&) const = default;

        template <typename Self, typename Coder>
        static void codingFields(Self& self, Coder& coder) {
            coder.field("command", self.command);
            coder.field("option", self.option);
            coder.field("shift", self.shift);
        }
    };

    std::string href;  // exactly as written in the document
    Kind kind = Kind::external;
    Modifiers modifiers;

    bool operator==(const OpenLinkPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("href", self.href);
        coder.field("kind", self.kind);
        coder.field("modifiers", self.modifiers);
    }
};

template <>
struct RawValueTable<OpenLinkPayload::Kind> {
    using T = OpenLinkPayload::Kind;
    static constexpr auto entries = std::to_array<std::pair<T, std::string_view>>({
        {T::external, "external"},
        {T::relative, "relative"},
        {T::fragment, "fragment"},
        {T::file, "file"},
    });
};

}  // namespace larkspin
