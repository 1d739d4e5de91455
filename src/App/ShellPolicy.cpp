#include "App/ShellPolicy.hpp"

#include <algorithm>

#include "Platform/Localization.hpp"

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

std::string OpenFailures::message(const std::vector<std::string>& failures) {
    std::string message;
    for (std::size_t index = 0; index < failures.size() && index < namedAtMost; ++index) {
        if (!message.empty()) message += "\n";
        message += failures[index];
    }
    if (failures.size() > namedAtMost) {
        message += "\n";
        message += L10n::format("open.error.more", {std::to_string(failures.size() - namedAtMost)});
    }
    return message;
}

std::string OpenFailureList::take() {
    std::vector<std::string> named;
    named.reserve(failures_.size());
    for (auto& [order, failure] : failures_) named.push_back(std::move(failure));
    failures_.clear();
    return OpenFailures::message(named);
}

}  // namespace larkspin
