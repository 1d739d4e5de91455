#include "App/ShellPolicy.hpp"

#include <algorithm>

namespace larkspin {

bool QuitRule::shouldQuit(std::span<const ShellWindow> windows, int holds) {
    if (holds > 0) return false;
    return std::none_of(windows.begin(), windows.end(),
                        [](const ShellWindow& window) { return window.visible; });
}

bool QuitRule::closeIsQuit(std::span<const ShellWindow> others, const ShellWindow& closing) {
    if (!closing.documentGroup) return false;
    return std::none_of(others.begin(), others.end(),
                        [](const ShellWindow& window) { return window.visible; });
}

bool ActivityTracker::update(bool anyWindowActive) {
    const bool resigned = active_ && !anyWindowActive;
    active_ = anyWindowActive;
    return resigned;
}

}  // namespace larkspin
