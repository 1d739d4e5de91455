// The real program, started as a test host in a temporary home on a session
// bus of its own: it shows a window and ends cleanly when asked. The bus and
// the calls on it are separate processes (dbus-daemon, gdbus), so that this
// process starts no GLib worker threads of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
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
        bus_ = std::make_unique<test::LaunchedProgram>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"},
            std::map<std::string, std::string>{});
        ASSERT_TRUE(bus_->started());
        ASSERT_TRUE(bus_->waitForOutput("\n", bound)) << bus_->output();
        std::smatch match;
        const std::string output = bus_->output();
        ASSERT_TRUE(std::regex_search(output, match, std::regex("unix:[^\\s]+"))) << output;
        address_ = match.str();
    }

    // Runs gdbus on the test's bus; its output, empty when it failed.
    std::string gdbus(std::vector<std::string> arguments) {
        std::vector<std::string> argv{"gdbus", "call", "--session"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        test::LaunchedProgram call(argv, {{"DBUS_SESSION_BUS_ADDRESS", address_}});
        const auto status = call.waitForExit(bound);
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) return {};
        return call.output();
    }

    // Starts the program on a file that does not exist: the error it shows
    // is its first window.
    void launch() {
        const std::map<std::string, std::string> environment{
            {"DBUS_SESSION_BUS_ADDRESS", address_},
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
        const std::string names =
            gdbus({"--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                   "--method", "org.freedesktop.DBus.ListNames"});
        const std::regex unique("'(:[0-9.]+)'");
        for (auto it = std::sregex_iterator(names.begin(), names.end(), unique);
             it != std::sregex_iterator(); ++it) {
            const std::string name = (*it)[1].str();
            const std::string pid = gdbus({"--dest", "org.freedesktop.DBus", "--object-path",
                                           "/org/freedesktop/DBus", "--method",
                                           "org.freedesktop.DBus.GetConnectionUnixProcessID", name});
            if (pid.find("uint32 " + std::to_string(program_->pid()) + ",") != std::string::npos) {
                return name;
            }
        }
        return {};
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

    test::TempDir homeDir_;
    const std::filesystem::path& home_ = homeDir_.path();
    std::unique_ptr<test::LaunchedProgram> bus_;
    std::string address_;
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
    EXPECT_FALSE(gdbus({"--dest", name, "--object-path", "/dev/corvantel/larkspin", "--method",
                        "org.gtk.Actions.Activate", "quit", "[]", "{}"})
                     .empty());
    expectCleanExit();
}

TEST_F(LarkspinProgram, OpensTheSettingsWindowAndStillQuitsCleanly) {
    ASSERT_NO_FATAL_FAILURE(launch());
    const std::string name = busNameOfProgram();
    ASSERT_FALSE(name.empty()) << program_->output();
    const std::vector<std::string> object{"--dest", name, "--object-path", "/dev/corvantel/larkspin"};
    auto call = [&](std::vector<std::string> method) {
        std::vector<std::string> arguments = object;
        arguments.insert(arguments.end(), method.begin(), method.end());
        return gdbus(arguments);
    };
    // Enabled now that the window exists to be opened.
    EXPECT_EQ(call({"--method", "org.gtk.Actions.Describe", "settings"}).rfind("((true,", 0), 0u)
        << program_->output();
    EXPECT_FALSE(call({"--method", "org.gtk.Actions.Activate", "settings", "[]", "{}"}).empty());
    EXPECT_FALSE(call({"--method", "org.gtk.Actions.Activate", "quit", "[]", "{}"}).empty());
    expectCleanExit();
}

}  // namespace
}  // namespace larkspin
