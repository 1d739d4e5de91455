#pragma once

#include <string>

namespace larkspin {

// A random (version 4) UUID in its canonical upper-case text form.
std::string makeUUID();

}  // namespace larkspin
