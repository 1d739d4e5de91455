#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// A URL reference split into its parts by RFC 3986, strictly: every "%" must
// start a two-digit escape, characters that a URL cannot hold (controls,
// blanks, "<>\"\\^`{|}", a second "#") make it invalid. Bytes above 0x7F are
// accepted where the RFC allows unreserved characters, as long as the whole
// text is UTF-8, so that a link written with non-ASCII text still parses.
// The parts are kept as written (not decoded, letter case unchanged).
struct ParsedURL {
    std::optional<std::string> scheme;    // without the ":"; none for a relative reference
    std::optional<std::string> userInfo;  // with an authority only
    std::optional<std::string> host;      // present (perhaps empty) when there is an authority
    std::optional<std::string> port;      // digits, perhaps empty
    std::string path;
    std::optional<std::string> query;     // present (perhaps empty) after a "?"
    std::optional<std::string> fragment;  // present (perhaps empty) after a "#"

    // None when the text is not a valid URL reference.
    static std::optional<ParsedURL> parse(std::string_view text);
};

// The scheme a text starts with, as written: what comes before its first ":"
// when no "/", "?" or "#" comes first and it is a valid scheme. None otherwise.
std::optional<std::string_view> leadingScheme(std::string_view text);

// A link destination made into URL text the way CommonMark renderers do it:
// in the path, query and fragment, every ASCII character a URL cannot hold
// (controls, space, "\"<>[\\]^`{|}", DEL) and every "%" that does not start
// a two-digit escape is percent-encoded. Valid escapes, non-ASCII text, "#",
// the scheme and the authority stay as written: a host holding such
// characters is not a host, and parse() refuses it.
std::string encodedLinkDestination(std::string_view text);

}  // namespace larkspin
