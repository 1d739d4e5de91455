#pragma once

#include <memory>
#include <optional>

#include "Appearance/DesktopAppearanceSource.hpp"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;

namespace larkspin {

// Whether the desktop prefers dark, from the Settings portal's
// "org.freedesktop.appearance" "color-scheme" (read once, then followed through
// its SettingChanged signal). Until the portal answers, or where there is
// none, libadwaita's style manager answers while the program has not forced a
// colour scheme on it (afterwards its last unforced answer stands); without
// either the desktop counts as light. Main thread.
class DesktopAppearanceMonitor final
    : public DesktopAppearanceSource,
      public std::enable_shared_from_this<DesktopAppearanceMonitor> {
public:
    static constexpr const char* portalBusName = "org.freedesktop.portal.Desktop";
    static constexpr const char* portalObjectPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* settingsInterface = "org.freedesktop.portal.Settings";
    static constexpr const char* appearanceNamespace = "org.freedesktop.appearance";
    static constexpr const char* colorSchemeKey = "color-scheme";

    // Connects to the session bus asynchronously.
    static std::shared_ptr<DesktopAppearanceMonitor> create();
    // Over a connection that is already open (tests use a private bus).
    static std::shared_ptr<DesktopAppearanceMonitor> create(GDBusConnection* connection);

    ~DesktopAppearanceMonitor() override;
    DesktopAppearanceMonitor(const DesktopAppearanceMonitor&) = delete;
    DesktopAppearanceMonitor& operator=(const DesktopAppearanceMonitor&) = delete;

    bool prefersDark() const override;
    NotificationObserver observeChanges(std::function<void()> onChange) override;

    // The portal's colour-scheme value, nested variants unwrapped: 1 (prefer
    // dark) is dark; 0 (no preference) and 2 (prefer light) are not; any
    // other value or type gives nothing.
    static std::optional<bool> colorSchemePrefersDark(GVariant* value);

    // Whether the portal has answered.
    bool hasPortalAnswer() const { return portalDark_.has_value(); }

private:
    struct State;
    DesktopAppearanceMonitor();
    void start(GDBusConnection* connection);
    void applyPortalValue(GVariant* value);
    void attachStyleManager() const;
    void notifyChange();

    static void onBus(void* source, void* result, void* data);
    static void onRead(void* source, void* result, void* data);
    static void onSettingChanged(GDBusConnection* connection, const char* sender, const char* path,
                                 const char* interface, const char* signal, GVariant* parameters,
                                 void* data);
    static void onStyleManagerDark(void* object, void* property, void* data);

    std::optional<bool> portalDark_;
    mutable bool styleManagerDark_ = false;
    std::unique_ptr<State> state_;
    std::shared_ptr<NotificationCenter> changes_ = NotificationCenter::create();
};

}  // namespace larkspin
