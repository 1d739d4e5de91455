#pragma once

#include <chrono>
#include <functional>

namespace larkspin {

// What the launch does, step by step, as the application glue provides it.
struct LaunchSteps {
    // The one-time move of a former Flatpak install's data, synchronously.
    std::function<void()> migrate;
    // The application menu and its actions and shortcuts.
    std::function<void()> installMenus;
    // Asks for the first spare web view (the prewarmer decides whether)
    // unless a document is open: the first reader's "rendered" asks for it.
    std::function<void()> schedulePrewarm;
    // Runs `step` once on the main loop after `delay` (a plain timeout, not a
    // cancellable task).
    std::function<void(std::chrono::milliseconds delay, std::function<void()> step)> after;
    // Logs the window-state line.
    std::function<void()> logWindowState;
    // Starts the launch restore of recovery drafts; it lets go of the launch
    // hold itself when it has run.
    std::function<void()> restoreDrafts;
    // Lets go of the hold the application keeps on itself during launch.
    std::function<void()> releaseLaunchHold;
};

// The order of the launch: the migration first (never in a test host), then
// the menus, and from one moment the delayed steps: the draft restore after
// 0.8 s (in a test host only the launch hold is let go), the window-state
// line after 2.0 s and the spare web view after 2.5 s. The spare waits so
// that a document given at launch loads and renders alone; its reader asks
// for the spare once it has rendered.
namespace LaunchSequence {

inline constexpr std::chrono::milliseconds draftRestoreDelay{800};
inline constexpr std::chrono::milliseconds windowStateDelay{2000};
inline constexpr std::chrono::milliseconds spareDelay{2500};

// Before the application's first turn (GApplication "startup").
void willFinish(bool isTestHost, const LaunchSteps& steps);
// Once the application has started up, before it opens or activates.
void didFinish(bool isTestHost, const LaunchSteps& steps);

}  // namespace LaunchSequence

}  // namespace larkspin
