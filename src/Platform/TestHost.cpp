#include "Platform/TestHost.hpp"

#include <cstdlib>

namespace larkspin {

bool isTestHost() { return std::getenv(testHostVariable) != nullptr; }

}  // namespace larkspin
