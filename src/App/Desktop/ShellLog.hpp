#pragma once

#include "Platform/Log.hpp"

namespace larkspin::ShellLog {

// The shell's log: the launch, the open dialog, its messages.
inline constexpr Logger shell{"shell"};

}  // namespace larkspin::ShellLog
