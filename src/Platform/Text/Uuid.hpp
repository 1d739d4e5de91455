#pragma once

#include <string>
#include <string_view>

namespace larkspin {

// A random (version 4) UUID in its canonical upper-case text form.
std::string makeUUID();

// `text` has the form makeUUID gives: 8-4-4-4-12 upper-case hexadecimal
// digits.
bool isCanonicalUUID(std::string_view text);

}  // namespace larkspin
