#include "Appearance/Desktop/DesktopAccessibilityMonitor.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"

namespace larkspin {

namespace {
constexpr std::string_view changedName = "changed";
}

struct DesktopAccessibilityMonitor::Connections {
    GObjectPtr<GtkSettings> settings;
    GObjectPtr<AdwStyleManager> styleManager;
    SignalConnection animations;
    SignalConnection contrast;
};

DesktopAccessibilityMonitor::DesktopAccessibilityMonitor() {
    attach();
}

DesktopAccessibilityMonitor::~DesktopAccessibilityMonitor() = default;

void DesktopAccessibilityMonitor::changed(void*, void*, void* self) {
    auto* monitor = static_cast<DesktopAccessibilityMonitor*>(self);
    monitor->changes_->post(changedName, monitor);
}

void DesktopAccessibilityMonitor::attach() const {
    // GTK and libadwaita may start after the monitor: connect each piece as
    // soon as it exists.
    if (gdk_display_get_default() == nullptr) return;
    if (!connections_) connections_ = std::make_unique<Connections>();
    auto* self = const_cast<DesktopAccessibilityMonitor*>(this);
    if (!connections_->settings) {
        if (GtkSettings* settings = gtk_settings_get_default()) {
            connections_->settings = GObjectPtr<GtkSettings>::retain(settings);
            connections_->animations = SignalConnection::connect(
                settings, "notify::gtk-enable-animations", G_CALLBACK(changed), self);
        }
    }
    if (!connections_->styleManager && adw_is_initialized()) {
        AdwStyleManager* manager = adw_style_manager_get_default();
        connections_->styleManager = GObjectPtr<AdwStyleManager>::retain(manager);
        connections_->contrast =
            SignalConnection::connect(manager, "notify::high-contrast", G_CALLBACK(changed), self);
    }
}

bool DesktopAccessibilityMonitor::shouldReduceMotion() const {
    LARKSPIN_ASSERT_MAIN_THREAD();
    attach();
    if (!connections_ || !connections_->settings) return false;
    gboolean animations = TRUE;
    g_object_get(connections_->settings.get(), "gtk-enable-animations", &animations, nullptr);
    return !animations;
}

bool DesktopAccessibilityMonitor::shouldIncreaseContrast() const {
    LARKSPIN_ASSERT_MAIN_THREAD();
    attach();
    if (!connections_ || !connections_->styleManager) return false;
    return adw_style_manager_get_high_contrast(connections_->styleManager.get());
}

NotificationObserver DesktopAccessibilityMonitor::observeChanges(std::function<void()> onChange) {
    attach();
    return changes_->addObserver(
        std::string(changedName), nullptr,
        [onChange = std::move(onChange)](const Notification&) { onChange(); });
}

}  // namespace larkspin
