#pragma once

#include <string>
#include <string_view>

namespace larkspin {

// `text` without white space and line breaks at either end, Unicode ones
// included (U+00A0, U+3000, U+2028, U+0085…). Invalid UTF-8 stops the trim
// where it begins.
std::string trimmedWhitespace(std::string_view text);

// True for a character that `trimmedWhitespace` removes.
bool isWhitespaceOrNewline(char32_t c);

// `text` with A–Z turned into a–z and every other byte kept: for schemes,
// hosts, file extensions and family names, never for text shown to a person.
std::string asciiLowercased(std::string_view text);

}  // namespace larkspin
