#pragma once

#include <functional>

#include "Platform/NotificationCenter.hpp"

namespace larkspin {

// Where the desktop's accessibility display flags come from. The program uses
// DesktopAccessibilityMonitor; tests use their own. Main thread.
class AccessibilityDisplaySource {
public:
    virtual ~AccessibilityDisplaySource() = default;

    virtual bool shouldReduceMotion() const = 0;
    virtual bool shouldReduceTransparency() const = 0;
    virtual bool shouldIncreaseContrast() const = 0;

    // Calls `onChange` on the main thread whenever one of the flags may have
    // changed, for as long as the returned observer lives.
    [[nodiscard]] virtual NotificationObserver observeChanges(std::function<void()> onChange) = 0;
};

}  // namespace larkspin
