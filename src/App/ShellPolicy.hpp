#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace larkspin {

// One window of the application as the quit rule sees it.
struct ShellWindow {
    bool visible = false;
    // A tab-group window of documents (not a dialog or the settings window).
    bool documentGroup = false;
};

// When the application ends on its own, and when it has resigned active.
namespace QuitRule {

// The process ends when no window of it is visible and nothing holds it (the
// launch, an open dialog, a pending open). A hidden window (the settings
// window once closed) does not keep it alive.
bool shouldQuit(std::span<const ShellWindow> windows, int holds);

// Closing `closing` quits the application (and so asks the quit review
// first) when it is a group window and no other window would stay visible.
bool closeIsQuit(std::span<const ShellWindow> others, const ShellWindow& closing);

}  // namespace QuitRule

// Follows whether the application is active: some window of the process has
// the focus (a group window, the settings window, a message or the open
// dialog). An open dialog that does not have the focus does not keep it
// active: leaving the application with a dialog up is resigning. Fed on an
// idle after each focus change, so that moving between our own windows,
// which passes through "none active", is never seen.
class ActivityTracker {
public:
    // True exactly when the application has just resigned active.
    bool update(bool anyWindowActive);
    bool isActive() const { return active_; }

private:
    bool active_ = false;
};

// The one message that says which files could not be opened, however many:
// the first few failures as they are, then how many more there were, so
// that it fits on a screen.
namespace OpenFailures {

inline constexpr std::size_t namedAtMost = 5;

std::string message(const std::vector<std::string>& failures);

}  // namespace OpenFailures

// The failures of the files named, kept until they are said: in the order
// the files were named (`order`, rising with each name), whatever order
// their checks and opens end in.
class OpenFailureList {
public:
    void add(std::uint64_t order, std::string failure) { failures_.emplace(order, std::move(failure)); }
    bool empty() const { return failures_.empty(); }
    // The message that says them (`OpenFailures::message`); the list is
    // empty afterwards.
    std::string take();

private:
    std::multimap<std::uint64_t, std::string> failures_;
};

}  // namespace larkspin
