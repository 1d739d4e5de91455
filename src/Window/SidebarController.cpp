#include "Window/SidebarController.hpp"

#include "Platform/Log.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin {

SidebarController::SidebarController(UserDefaults& defaults, Clock& clock)
    : defaults_(defaults), clock_(clock), policy_(loadSidebarPolicy(defaults)) {}

SidebarController::~SidebarController() { flushWidth(); }

void SidebarController::storeVisibility() {
    defaults_.setBool(SidebarWidth::visibleKey, policy_.preferredVisible);
}

bool SidebarController::userToggled(double windowWidth) {
    policy_.userToggled(windowWidth);
    storeVisibility();
    const bool visible = policy_.isVisible(windowWidth);
    AppLog::document.info("侧栏切换：visible=%{bool}d preferred=%{bool}d narrowOverride=%{bool}d",
                          visible, policy_.preferredVisible, policy_.narrowOverride);
    return visible;
}

bool SidebarController::windowResized(double windowWidth) {
    policy_.windowResized(windowWidth);
    return policy_.isVisible(windowWidth);
}

bool SidebarController::collapsedChanged(bool collapsed, double windowWidth) {
    if (collapsed != policy_.isVisible(windowWidth)) return false;  // as the rule wants
    policy_.userToggled(windowWidth);
    storeVisibility();
    return true;
}

double SidebarController::restoreWidth() { return SidebarWidth::restore(defaults_); }

void SidebarController::dividerMoved(double width, bool collapsed, bool animating) {
    if (collapsed || animating) return;
    pendingWidth_ = width;
    widthSlot_.spawn(settleWidth());
}

void SidebarController::flushWidth() {
    widthSlot_.cancel();
    const auto width = pendingWidth_;
    pendingWidth_.reset();
    if (!width) return;
    if (const auto save = SidebarWidth::widthToSave(defaults_, *width)) {
        defaults_.setReal(SidebarWidth::userWidthKey, *save);
    }
}

Task<void> SidebarController::settleWidth() {
    co_await sleepFor(clock_, widthSettleDelay);
    // The slot that started this task is cancelled by flushWidth(): take what
    // is pending first so that the write happens once.
    const auto width = pendingWidth_;
    pendingWidth_.reset();
    if (!width) co_return;
    if (const auto save = SidebarWidth::widthToSave(defaults_, *width)) {
        defaults_.setReal(SidebarWidth::userWidthKey, *save);
    }
}

}  // namespace larkspin
