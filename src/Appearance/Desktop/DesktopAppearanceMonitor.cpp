#include "Appearance/Desktop/DesktopAppearanceMonitor.hpp"

#include <adwaita.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"

namespace larkspin {

namespace {

constexpr std::string_view changedName = "changed";

using WeakMonitor = std::weak_ptr<DesktopAppearanceMonitor>;

void deleteWeak(void* data) {
    delete static_cast<WeakMonitor*>(data);
}

}  // namespace

struct DesktopAppearanceMonitor::State {
    GObjectPtr<GCancellable> cancellableOwner = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    GCancellable* cancellable = cancellableOwner.get();
    GObjectPtr<GDBusConnection> connection;
    guint subscription = 0;
    GObjectPtr<AdwStyleManager> styleManager;
    SignalConnection dark;
};

DesktopAppearanceMonitor::DesktopAppearanceMonitor() : state_(std::make_unique<State>()) {}

DesktopAppearanceMonitor::~DesktopAppearanceMonitor() {
    g_cancellable_cancel(state_->cancellable);
    if (state_->connection && state_->subscription) {
        g_dbus_connection_signal_unsubscribe(state_->connection.get(), state_->subscription);
    }
}

std::shared_ptr<DesktopAppearanceMonitor> DesktopAppearanceMonitor::create() {
    std::shared_ptr<DesktopAppearanceMonitor> monitor(new DesktopAppearanceMonitor());
    monitor->attachStyleManager();
    g_bus_get(G_BUS_TYPE_SESSION, monitor->state_->cancellable,
              reinterpret_cast<GAsyncReadyCallback>(&DesktopAppearanceMonitor::onBus),
              new WeakMonitor(monitor));
    return monitor;
}

std::shared_ptr<DesktopAppearanceMonitor> DesktopAppearanceMonitor::create(
    GDBusConnection* connection) {
    std::shared_ptr<DesktopAppearanceMonitor> monitor(new DesktopAppearanceMonitor());
    monitor->attachStyleManager();
    monitor->start(connection);
    return monitor;
}

void DesktopAppearanceMonitor::onBus(void*, void* result, void* data) {
    std::unique_ptr<WeakMonitor> weak(static_cast<WeakMonitor*>(data));
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_finish(G_ASYNC_RESULT(result), &error);
    if (connection == nullptr) {
        if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            AppLog::document.info("没有会话总线，桌面外观按 libadwaita 判断：%{public}s",
                                  error->message);
        }
        g_error_free(error);
        return;
    }
    if (auto monitor = weak->lock()) monitor->start(connection);
    g_object_unref(connection);
}

void DesktopAppearanceMonitor::start(GDBusConnection* connection) {
    state_->connection = GObjectPtr<GDBusConnection>::retain(connection);
    state_->subscription = g_dbus_connection_signal_subscribe(
        connection, portalBusName, settingsInterface, "SettingChanged", portalObjectPath,
        appearanceNamespace, G_DBUS_SIGNAL_FLAGS_NONE, &DesktopAppearanceMonitor::onSettingChanged,
        new WeakMonitor(weak_from_this()), deleteWeak);
    g_dbus_connection_call(connection, portalBusName, portalObjectPath, settingsInterface, "Read",
                           g_variant_new("(ss)", appearanceNamespace, colorSchemeKey),
                           G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, -1, state_->cancellable,
                           reinterpret_cast<GAsyncReadyCallback>(&DesktopAppearanceMonitor::onRead),
                           new WeakMonitor(weak_from_this()));
}

void DesktopAppearanceMonitor::onRead(void* source, void* result, void* data) {
    std::unique_ptr<WeakMonitor> weak(static_cast<WeakMonitor*>(data));
    GError* error = nullptr;
    GVariant* reply =
        g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), G_ASYNC_RESULT(result), &error);
    if (reply == nullptr) {
        if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            AppLog::document.info(
                "设置门户没有提供 color-scheme，桌面外观按 libadwaita 判断：%{public}s",
                error->message);
        }
        g_error_free(error);
        return;
    }
    if (auto monitor = weak->lock()) {
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        monitor->applyPortalValue(value);
        g_variant_unref(value);
    }
    g_variant_unref(reply);
}

void DesktopAppearanceMonitor::onSettingChanged(GDBusConnection*, const char*, const char*,
                                                const char*, const char*, GVariant* parameters,
                                                void* data) {
    auto monitor = static_cast<WeakMonitor*>(data)->lock();
    if (!monitor || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    const char* nameSpace = nullptr;
    const char* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &nameSpace, &key, &value);
    if (g_strcmp0(nameSpace, appearanceNamespace) == 0 && g_strcmp0(key, colorSchemeKey) == 0) {
        monitor->applyPortalValue(value);
    }
    g_variant_unref(value);
}

std::optional<bool> DesktopAppearanceMonitor::colorSchemePrefersDark(GVariant* value) {
    // Read wraps the value in one more variant than ReadOne; unwrap them all.
    GVariant* current = value ? g_variant_ref(value) : nullptr;
    while (current && g_variant_is_of_type(current, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(current);
        g_variant_unref(current);
        current = inner;
    }
    std::optional<bool> out;
    if (current && g_variant_is_of_type(current, G_VARIANT_TYPE_UINT32)) {
        switch (g_variant_get_uint32(current)) {
            case 0:
                out = false;
                break;  // no preference
            case 1:
                out = true;
                break;  // prefer dark
            case 2:
                out = false;
                break;  // prefer light
            default:
                break;
        }
    }
    if (current) g_variant_unref(current);
    return out;
}

void DesktopAppearanceMonitor::applyPortalValue(GVariant* value) {
    const auto dark = colorSchemePrefersDark(value);
    if (!dark) return;
    const bool before = prefersDark();
    const bool first = !portalDark_.has_value();
    portalDark_ = dark;
    if (first || before != *dark) notifyChange();
}

void DesktopAppearanceMonitor::attachStyleManager() const {
    if (state_->styleManager || !adw_is_initialized() || gdk_display_get_default() == nullptr)
        return;
    AdwStyleManager* manager = adw_style_manager_get_default();
    state_->styleManager = GObjectPtr<AdwStyleManager>::retain(manager);
    state_->dark = SignalConnection::connect(
        manager, "notify::dark", G_CALLBACK(&DesktopAppearanceMonitor::onStyleManagerDark),
        const_cast<DesktopAppearanceMonitor*>(this));
}

void DesktopAppearanceMonitor::onStyleManagerDark(void*, void*, void* data) {
    auto* monitor = static_cast<DesktopAppearanceMonitor*>(data);
    if (!monitor->portalDark_) monitor->notifyChange();
}

bool DesktopAppearanceMonitor::prefersDark() const {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (portalDark_) return *portalDark_;
    attachStyleManager();
    if (state_->styleManager &&
        adw_style_manager_get_color_scheme(state_->styleManager.get()) == ADW_COLOR_SCHEME_DEFAULT) {
        styleManagerDark_ = adw_style_manager_get_dark(state_->styleManager.get());
    }
    return styleManagerDark_;
}

void DesktopAppearanceMonitor::notifyChange() {
    changes_->post(changedName, this);
}

NotificationObserver DesktopAppearanceMonitor::observeChanges(std::function<void()> onChange) {
    return changes_->addObserver(
        std::string(changedName), nullptr,
        [onChange = std::move(onChange)](const Notification&) { onChange(); });
}

}  // namespace larkspin
