#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace larkspin::utf8 {

// Strict UTF-8: no overlong forms, no surrogates (U+D800–U+DFFF), nothing
// above U+10FFFF, no cut sequences. U+0000 is a valid character (GLib's
// validator refuses it; a text file that holds one is still UTF-8).
bool isValid(std::string_view bytes);

// The length of the longest valid prefix of `bytes`.
std::size_t validPrefixLength(std::string_view bytes);

// The number of characters of valid UTF-8 text.
std::int64_t countCharacters(std::string_view text);

}  // namespace larkspin::utf8
