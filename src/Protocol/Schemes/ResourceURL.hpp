#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// The parts of a URL as the program's two URL schemes receive it from WebKit,
// each still percent-encoded, split by GLib's `g_uri_split` in its relaxed
// mode (lenient where WebKit's own URL parser is: it leaves "|", "^" and the
// like unescaped in a query). No other normalisation happens here: the
// scheme handlers apply their own rules to the parts, decoded with
// percentDecoded().
struct ResourceURL {
    std::string scheme;                   // lower-cased
    std::optional<std::string> host;      // absent without "//"; user, port and an IPv6 literal's brackets removed
    std::string path;                     // may be empty
    std::optional<std::string> query;     // after "?", without it
    std::optional<std::string> fragment;  // after "#", without it

    // None when the text does not begin with a scheme ("letter, then letters,
    // digits, '+', '-' or '.', then ':'"), has a port that is not a number, or
    // holds a NUL.
    static std::optional<ResourceURL> parse(std::string_view text);

    // The value of the first query item whose decoded name is `name` (items
    // separated by "&", name and value by the first "="), decoded with
    // percentDecoded() ("%00" gives a NUL, "+" stays "+"). None when
    // there is no query, no such item, the first such item has no "=", or its
    // value cannot be decoded.
    std::optional<std::string> firstQueryValue(std::string_view name) const;
};

}  // namespace larkspin
