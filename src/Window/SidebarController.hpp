#pragma once

#include <chrono>
#include <optional>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Window/SidebarPolicy.hpp"

namespace larkspin {

class UserDefaults;

// What a page decides about its heading sidebar, free of widgets: whether it
// shows at a window width, what a toggle does, and when the divider's width
// is kept. The page's pane widget asks it and applies the answers; changes it
// makes itself (applying a visibility) are not reported back as user
// changes. Main thread.
class SidebarController {
public:
    // How long the divider must rest before its width is written: a drag
    // writes once, not at every step.
    static constexpr std::chrono::milliseconds widthSettleDelay{300};

    // Reads "sidebarVisible" from `defaults`; both must outlive the controller.
    SidebarController(UserDefaults& defaults, Clock& clock);
    // Writes a width still waiting to settle.
    ~SidebarController();
    SidebarController(const SidebarController&) = delete;
    SidebarController& operator=(const SidebarController&) = delete;

    const SidebarPolicy& policy() const { return policy_; }
    bool isVisible(double windowWidth) const { return policy_.isVisible(windowWidth); }

    // The toggle command at `windowWidth`: keeps the new choice under
    // "sidebarVisible", logs it and returns the visibility to apply.
    bool userToggled(double windowWidth);
    // The window was resized: returns the visibility to apply.
    bool windowResized(double windowWidth);
    // The pane was collapsed or expanded by other means than the controller's
    // own answers (the divider dragged shut, say). A state that differs from
    // the rule counts as a toggle and is kept; the visibility is not applied
    // again. Returns whether it counted.
    bool collapsedChanged(bool collapsed, double windowWidth);

    // The width a new page starts with (migrating the older key first).
    double restoreWidth();
    // The divider now stands at `width`. Ignored while the pane is collapsed
    // or animating; otherwise written once it has rested for
    // widthSettleDelay, the last width winning.
    void dividerMoved(double width, bool collapsed, bool animating);
    // Writes a width waiting to settle now (the page closes).
    void flushWidth();
    bool hasPendingWidth() const { return pendingWidth_.has_value(); }

private:
    Task<void> settleWidth();
    void storeVisibility();

    UserDefaults& defaults_;
    Clock& clock_;
    SidebarPolicy policy_;
    std::optional<double> pendingWidth_;
    TaskSlot widthSlot_;  // last: cancels the settle before the members go
};

}  // namespace larkspin
