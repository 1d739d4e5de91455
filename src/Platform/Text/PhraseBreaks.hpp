#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace larkspin::PhraseBreaks {

// A run of bytes of a text that a line should not break inside.
struct Run {
    std::size_t begin = 0;
    std::size_t end = 0;  // one past the last byte
    bool operator==(const Run&) const = default;
};

// Where a short Chinese heading ("“notes.md”有未保存的修改。关闭前要保存吗？")
// should break, for a label that wraps it: lines may break between any two
// ideographs, which splits words ("关 / 闭"). The runs returned are its
// phrases: text of ideographs and Chinese punctuation between two phrase
// ends (。，？！；：、), a quotation or a bracket, of at most `longest`
// characters; a line breaks between them, and inside anything else (a
// quoted file name, Latin text) as usual. `text` is UTF-8; invalid bytes
// end a phrase.
std::vector<Run> keptTogether(std::string_view text, std::size_t longest = 16);

}  // namespace larkspin::PhraseBreaks
