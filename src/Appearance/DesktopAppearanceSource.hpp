#pragma once

#include <functional>

#include "Platform/NotificationCenter.hpp"

namespace larkspin {

// Whether the desktop prefers the dark style. The program uses
// DesktopAppearanceMonitor; tests use their own. Main thread.
class DesktopAppearanceSource {
public:
    virtual ~DesktopAppearanceSource() = default;

    virtual bool prefersDark() const = 0;

    // Calls `onChange` on the main thread whenever the answer may have
    // changed, for as long as the returned observer lives.
    [[nodiscard]] virtual NotificationObserver observeChanges(std::function<void()> onChange) = 0;
};

}  // namespace larkspin
