#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// The line-ending style of a document's file.
enum class LineEnding { lf, crlf, mixed };

// "lf", "crlf", "mixed".
std::string_view rawValue(LineEnding lineEnding);
std::optional<LineEnding> lineEndingFromRaw(std::string_view raw);

namespace LineEndingPolicy {

struct Counts {
    std::int64_t crlf = 0;  // CR LF pairs
    std::int64_t lf = 0;    // LF not preceded by CR
    std::int64_t cr = 0;    // CR not followed by LF
    bool operator==(const Counts&) const = default;

    // No breaks: lf. One kind only: that kind, except bare CRs alone, which
    // are mixed. Two or three kinds: mixed.
    LineEnding style() const;
};

Counts count(std::string_view text);
LineEnding detect(std::string_view text);

// Adds the breaks of one piece of a longer text to `counts`; `previousIsCR`
// tells whether the byte before the piece was a CR. Once every piece has been
// added, in order, `counts` equals `count` of the whole text (in between, a CR
// that ends a piece is counted as bare until the next piece pairs it).
void accumulate(Counts& counts, std::string_view piece, bool previousIsCR);

// The text to encode for a save in `style`: for crlf every LF that lacks its
// CR gets one (bare CRs stay); lf and mixed texts are written as they are.
std::string normalizeForSave(std::string_view text, LineEnding style);

}  // namespace LineEndingPolicy

}  // namespace larkspin
