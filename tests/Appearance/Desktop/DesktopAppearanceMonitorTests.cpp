#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <csignal>
#include <string>

#include "Appearance/Desktop/DesktopAppearanceMonitor.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

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

// A message bus of the test's own: a dbus-daemon started by exec, so that no
// copy of this process (and of the pool threads it has lost in the copy) runs
// beside it and checks for leaks when it exits. It ends with the test, or
// with this process if that dies first.
class PrivateBus {
public:
    PrivateBus() {
        const auto config = folder_.write(
            "bus.conf",
            "<busconfig><type>session</type><listen>unix:dir=" + folder_.path().string() +
                "</listen><policy context='default'><allow send_destination='*'/>"
                "<allow receive_sender='*'/>"
                "<allow own='*'/></policy></busconfig>");
        GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE);
        g_subprocess_launcher_set_child_setup(launcher, endWithParent, nullptr, nullptr);
        const std::string configArgument = "--config-file=" + config.string();
        daemon_ = g_subprocess_launcher_spawn(launcher, nullptr, "dbus-daemon", "--nofork",
                                              "--print-address=1", configArgument.c_str(),
                                              nullptr);
        g_object_unref(launcher);
        if (daemon_ == nullptr) return;
        // The daemon prints its address once it listens, or ends (and the read
        // ends with it).
        GDataInputStream* output =
            g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
        if (char* line = g_data_input_stream_read_line(output, nullptr, nullptr, nullptr)) {
            address_ = line;
            g_free(line);
        }
        g_object_unref(output);
    }
    ~PrivateBus() {
        if (daemon_ == nullptr) return;
        g_subprocess_send_signal(daemon_, SIGTERM);
        g_subprocess_wait(daemon_, nullptr, nullptr);
        g_object_unref(daemon_);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon did not start.
    const std::string& address() const { return address_; }

private:
    static void endWithParent(gpointer) { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }

    test::TempDir folder_;
    GSubprocess* daemon_ = nullptr;
    std::string address_;
};

class DesktopAppearanceMonitorBus : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus_.address().empty()) << "dbus-daemon did not start";
        for (GDBusConnection** c : {&service_, &client_}) {
            *c = g_dbus_connection_new_for_address_sync(
                bus_.address().c_str(),
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
    }

    PrivateBus bus_;
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
