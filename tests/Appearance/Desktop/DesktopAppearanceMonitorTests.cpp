#include <gio/gio.h>
#include <gtest/gtest.h>

#include "Appearance/Desktop/DesktopAppearanceMonitor.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

// The values themselves are read on the bus below; here their wrapping, and values of
// another type.
TEST(DesktopAppearanceMonitor, UnwrapsVariantsAndIgnoresOtherTypes) {
    const std::pair<GVariant*, std::optional<bool>> cases[] = {
        {g_variant_new_variant(g_variant_new_variant(g_variant_new_uint32(1))), true},
        {g_variant_new_int32(1), std::nullopt}};
    for (auto [value, dark] : cases) {
        EXPECT_EQ(DesktopAppearanceMonitor::colorSchemePrefersDark(g_variant_ref_sink(value)),
                  dark);
        g_variant_unref(value);
    }
    EXPECT_EQ(DesktopAppearanceMonitor::colorSchemePrefersDark(nullptr), std::nullopt);
}

// A Settings portal on a private bus whose colour scheme the test sets.
class FakePortal {
public:
    explicit FakePortal(GDBusConnection* connection, guint32 scheme)
        : connection_(connection), scheme_(scheme) {
        static const char* xml =
            "<node><interface name='org.freedesktop.portal.Settings'>"
            "<method name='Read'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
            "<arg type='v' direction='out'/></method>"
            "<signal name='SettingChanged'><arg type='s'/><arg type='s'/><arg type='v'/></signal>"
            "</interface></node>";
        info_ = g_dbus_node_info_new_for_xml(xml, nullptr);
        static const GDBusInterfaceVTable vtable = {&FakePortal::call, nullptr, nullptr, {}};
        registration_ = g_dbus_connection_register_object(
            connection, DesktopAppearanceMonitor::portalObjectPath, info_->interfaces[0], &vtable,
            this, nullptr, nullptr);
        owner_ = g_bus_own_name_on_connection(
            connection, DesktopAppearanceMonitor::portalBusName, G_BUS_NAME_OWNER_FLAGS_NONE,
            [](GDBusConnection*, const char*, gpointer data) {
                static_cast<FakePortal*>(data)->owned = true;
            },
            nullptr, this, nullptr);
    }
    ~FakePortal() {
        g_bus_unown_name(owner_);
        g_dbus_connection_unregister_object(connection_, registration_);
        g_dbus_node_info_unref(info_);
    }

    // Announces a setting of the appearance namespace.
    void change(const char* key, guint32 scheme) {
        if (g_strcmp0(key, "color-scheme") == 0) scheme_ = scheme;
        g_dbus_connection_emit_signal(
            connection_, nullptr, DesktopAppearanceMonitor::portalObjectPath,
            DesktopAppearanceMonitor::settingsInterface, "SettingChanged",
            g_variant_new("(ssv)", "org.freedesktop.appearance", key, g_variant_new_uint32(scheme)),
            nullptr);
    }
    bool owned = false;

private:
    // Read, the one method: the colour scheme, or an error for any other key.
    static void call(GDBusConnection*, const char*, const char*, const char*, const char*,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakePortal*>(data);
        const char* key = nullptr;
        g_variant_get(parameters, "(&s&s)", nullptr, &key);
        if (g_strcmp0(key, "color-scheme") != 0) {
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.portal.Error.NotFound", "no such setting");
            return;
        }
        // As the real portal does: a variant holding a variant.
        g_dbus_method_invocation_return_value(
            invocation,
            g_variant_new("(v)", g_variant_new_variant(g_variant_new_uint32(self->scheme_))));
    }

    GDBusConnection* connection_;
    guint32 scheme_;
    GDBusNodeInfo* info_ = nullptr;
    guint registration_ = 0;
    guint owner_ = 0;
};

class DesktopAppearanceMonitorBus : public ::testing::Test {
protected:
    void SetUp() override {
        bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
        g_test_dbus_up(bus_);
        for (GDBusConnection** c : {&service_, &client_}) {
            *c = g_dbus_connection_new_for_address_sync(
                g_test_dbus_get_bus_address(bus_),
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, nullptr);
            ASSERT_NE(*c, nullptr);
        }
    }
    void TearDown() override {
        for (GDBusConnection* c : {service_, client_}) {
            if (c) {
                g_dbus_connection_close_sync(c, nullptr, nullptr);
                g_object_unref(c);
            }
        }
        g_test_dbus_down(bus_);
        g_object_unref(bus_);
    }

    GTestDBus* bus_ = nullptr;
    GDBusConnection* service_ = nullptr;
    GDBusConnection* client_ = nullptr;
};

TEST_F(DesktopAppearanceMonitorBus, FollowsThePortalAndItsChanges) {
    FakePortal portal(service_, 1);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return portal.owned; }));
    auto monitor = DesktopAppearanceMonitor::create(client_);
    int changes = 0;
    auto observer = monitor->observeChanges([&] { ++changes; });
    EXPECT_FALSE(monitor->prefersDark());  // headless, before the portal answers
    ASSERT_TRUE(test::runMainLoopUntil([&] { return monitor->hasPortalAnswer(); }));
    EXPECT_TRUE(monitor->prefersDark());
    EXPECT_EQ(changes, 1);

    portal.change("color-scheme", 2);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return changes == 2; }));
    EXPECT_FALSE(monitor->prefersDark());
    // Other settings and unknown values change nothing.
    portal.change("accent-color", 1);
    portal.change("color-scheme", 7);
    portal.change("color-scheme", 0);  // no preference: light, as before
    portal.change("color-scheme", 1);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return changes == 3; }));
    EXPECT_TRUE(monitor->prefersDark());

    test::runMainLoopUntil([] { return false; }, 20);  // and nothing more is on its way
    // A monitor that is gone hears nothing and leaves nothing behind.
    monitor.reset();
    portal.change("color-scheme", 2);
    test::runMainLoopUntil([] { return false; }, 20);
    EXPECT_EQ(changes, 3);
}

TEST_F(DesktopAppearanceMonitorBus, WithoutAPortalTheDesktopIsLight) {
    auto monitor = DesktopAppearanceMonitor::create(client_);
    // The call fails (nobody owns the portal's name); the answer stays light.
    test::runMainLoopUntil([] { return false; }, 50);
    EXPECT_FALSE(monitor->hasPortalAnswer());
    EXPECT_FALSE(monitor->prefersDark());
}

}  // namespace
}  // namespace larkspin
