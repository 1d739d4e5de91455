#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// Base64 in the standard alphabet with padding (RFC 4648, section 4).
namespace Base64 {

std::string encode(std::string_view bytes);

// Strict: the text must be exactly what `encode` writes for some bytes — a
// length that is a multiple of four, only the standard alphabet, "=" only as
// the final padding, and zero bits where the last character has bits to spare.
// No whitespace, no line breaks. Anything else gives nothing. (GLib's decoder
// skips characters it does not know and so accepts junk.)
std::optional<std::string> decode(std::string_view text);

}  // namespace Base64

}  // namespace larkspin
