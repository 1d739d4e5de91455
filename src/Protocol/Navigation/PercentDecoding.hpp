#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// Our own percent-decoding of URL text (GLib's gives nothing for "%00" and
// does not check UTF-8). Every "%" must start an escape of two hex digits;
// "+" stays "+"; the decoded bytes must be UTF-8 (U+0000 included). Anything
// else gives none.
std::optional<std::string> percentDecoded(std::string_view text);

}  // namespace larkspin
