// The real program, started as a test host in a temporary home on its own
// D-Bus session bus: it shows a window and ends cleanly when asked.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "Support/LaunchedProgram.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;

constexpr auto bound = 60s;
constexpr std::string_view windowShown = "首个窗口已显示";

class LarkspinProgram : public ::testing::Test {
protected:
    void SetUp() override {
        // The bus fixture takes DISPLAY away from this process; the program needs it.
        if (const char* display = g_getenv("DISPLAY")) display_ = display;
        bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
        g_test_dbus_up(bus_);
        GError* error = nullptr;
        connection_ = g_dbus_connection_new_for_address_sync(
            g_test_dbus_get_bus_address(bus_),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        ASSERT_NE(connection_, nullptr) << (error ? error->message : "");
    }

    void TearDown() override {
        program_.reset();
        if (connection_) g_object_unref(connection_);
        g_test_dbus_down(bus_);
        g_object_unref(bus_);
        if (!display_.empty()) g_setenv("DISPLAY", display_.c_str(), TRUE);
    }

    // Starts the program on a file that does not exist: the error it shows
    // is its first window.
    void launch() {
        const std::map<std::string, std::string> environment{
            {"DBUS_SESSION_BUS_ADDRESS", g_test_dbus_get_bus_address(bus_)},
            {"DISPLAY", display_},
            {"XCTestConfigurationFilePath", "larkspin-tests"},
            {"HOME", (home_ / "home").string()},
            {"XDG_CONFIG_HOME", (home_ / "config").string()},
            {"XDG_DATA_HOME", (home_ / "data").string()},
            {"XDG_STATE_HOME", (home_ / "state").string()},
            {"XDG_CACHE_HOME", (home_ / "cache").string()},
            {"G_MESSAGES_DEBUG", "dev.corvantel.larkspin"},
        };
        program_ = std::make_unique<test::LaunchedProgram>(
            std::vector<std::string>{std::string(LARKSPIN_TEST_BUILD_DIR) + "/larkspin",
                                     (home_ / "missing.md").string()},
            environment);
        ASSERT_TRUE(program_->started());
        ASSERT_TRUE(program_->waitForOutput(windowShown, bound)) << program_->output();
    }

    // The program's unique name on the bus, found by its process id.
    std::string busNameOfProgram() {
        GVariant* names = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "ListNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            nullptr);
        std::string found;
        if (!names) return found;
        GVariantIter* iter = nullptr;
        const char* name = nullptr;
        g_variant_get(names, "(as)", &iter);
        while (found.empty() && g_variant_iter_next(iter, "&s", &name)) {
            if (name[0] != ':') continue;
            GVariant* pid = g_dbus_connection_call_sync(
                connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus", "GetConnectionUnixProcessID", g_variant_new("(s)", name),
                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            if (!pid) continue;
            guint32 value = 0;
            g_variant_get(pid, "(u)", &value);
            g_variant_unref(pid);
            if (static_cast<pid_t>(value) == program_->pid()) found = name;
        }
        g_variant_iter_free(iter);
        g_variant_unref(names);
        return found;
    }

    void expectCleanExit() {
        const auto status = program_->waitForExit(bound);
        ASSERT_TRUE(status.has_value()) << "still running: " << program_->output();
        ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "\n"
                                        << program_->output();
        EXPECT_EQ(WEXITSTATUS(*status), 0) << program_->output();
        // The session was written on the way out.
        EXPECT_TRUE(std::filesystem::exists(home_ / "state" / "Larkspin" / "session.json"))
            << program_->output();
    }

    std::string display_;
    test::TempDir home_dir_;
    const std::filesystem::path& home_ = home_dir_.path();
    GTestDBus* bus_ = nullptr;
    GDBusConnection* connection_ = nullptr;
    std::unique_ptr<test::LaunchedProgram> program_;
};

TEST_F(LarkspinProgram, QuitsOnTermination) {
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_EQ(::kill(program_->pid(), SIGTERM), 0);
    expectCleanExit();
}

TEST_F(LarkspinProgram, QuitsOnTheQuitActionOverDBus) {
    ASSERT_NO_FATAL_FAILURE(launch());
    const std::string name = busNameOfProgram();
    ASSERT_FALSE(name.empty()) << program_->output();
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, name.c_str(), "/dev/corvantel/larkspin", "org.gtk.Actions", "Activate",
        g_variant_new("(sava{sv})", "quit", nullptr, nullptr), nullptr, G_DBUS_CALL_FLAGS_NONE,
        10000, nullptr, &error);
    ASSERT_NE(reply, nullptr) << (error ? error->message : "");
    g_variant_unref(reply);
    expectCleanExit();
}

}  // namespace
}  // namespace larkspin
