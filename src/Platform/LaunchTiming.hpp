#pragma once

#include <string_view>

namespace larkspin {

// Milestones of the launch, logged at debug level in the category "launch"
// ("启动计时：<step> +N ms", from the program's start), each the first time
// it is reached only: shown with G_MESSAGES_DEBUG=dev.corvantel.larkspin
// (or "all"), silent otherwise. Any thread.
namespace LaunchTiming {

// Logs `step` once, with the time since the process started.
void mark(std::string_view step);

// Milliseconds since the process started (its static initialisation).
double millisecondsSinceStart();

}  // namespace LaunchTiming

}  // namespace larkspin
