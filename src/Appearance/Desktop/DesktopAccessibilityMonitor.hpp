#pragma once

#include <memory>

#include "Appearance/AccessibilityDisplaySource.hpp"

namespace larkspin {

// The desktop's accessibility display flags under GTK: reduce motion is
// GtkSettings' gtk-enable-animations turned off, increase contrast is
// AdwStyleManager's high-contrast; the desktop has no reduce-transparency
// setting, so only the launch override sets that flag. Without a display
// every flag is off. Main thread.
class DesktopAccessibilityMonitor final : public AccessibilityDisplaySource {
public:
    DesktopAccessibilityMonitor();
    ~DesktopAccessibilityMonitor() override;
    DesktopAccessibilityMonitor(const DesktopAccessibilityMonitor&) = delete;
    DesktopAccessibilityMonitor& operator=(const DesktopAccessibilityMonitor&) = delete;

    bool shouldReduceMotion() const override;
    bool shouldReduceTransparency() const override { return false; }
    bool shouldIncreaseContrast() const override;
    NotificationObserver observeChanges(std::function<void()> onChange) override;

private:
    struct Connections;
    // Connects to GtkSettings and the style manager once a display exists.
    void attach() const;
    static void changed(void* object, void* property, void* self);

    std::shared_ptr<NotificationCenter> changes_ = NotificationCenter::create();
    mutable std::unique_ptr<Connections> connections_;
};

}  // namespace larkspin
