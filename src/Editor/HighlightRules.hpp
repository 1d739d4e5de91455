#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace larkspin {

// What a coloured stretch of Markdown source is. The widget gives each role a
// text tag; tags made later win over earlier ones on the same characters, so
// the order here is the order of precedence.
enum class HighlightRole {
    heading,
    quote,
    quoteMarker,
    listMarker,
    strong,
    emphasis,
    link,
    linkDestination,
    inlineCode,
    fenceMarker,
    fencedCode,
};
inline constexpr std::size_t highlightRoleCount = 11;

// A role over bytes [begin, end) of one line.
struct LineSpan {
    HighlightRole role;
    std::size_t begin;
    std::size_t end;
    bool operator==(const LineSpan&) const = default;
};

namespace HighlightRules {

// Whether a line (without its terminator) is a fence marker line: up to
// three spaces, then three or more backticks or three or more tildes.
bool isFenceLine(std::string_view line);

// The spans of one line outside fenced code, in the order they are applied
// (later ones win): a heading line is coloured whole and nothing else applies;
// a quote line is coloured whole with its marker apart, a list marker alone;
// then over the rest of the line strong, emphasis, links (with their
// destination) and inline code. Invalid UTF-8 colours nothing.
std::vector<LineSpan> lineSpans(std::string_view line);

}  // namespace HighlightRules

}  // namespace larkspin
