#include "Support/TestEnvironment.hpp"

#include <glib.h>
#include <stdlib.h>

#include <stdexcept>

#include "Platform/Async/MainThread.hpp"
#include "Platform/TestHost.hpp"

namespace larkspin::test {

std::filesystem::path prepareTestEnvironment() {
    MainThread::initialize();
    char pattern[] = "/tmp/larkspin-tests-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (root == nullptr) throw std::runtime_error("cannot create the test folder");
    const std::filesystem::path base(root);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
        const auto dir = base / name;
        std::filesystem::create_directories(dir);
        setenv(name, dir.c_str(), 1);
    }
    std::filesystem::create_directories(base / "home");
    setenv("HOME", (base / "home").c_str(), 1);
    // No session bus: a test never joins the desktop's bus nor one that X11
    // autolaunch shares between every process on the display, whose
    // accessibility bus would live in the folder of whichever test started it
    // first. Tests that need a bus start one of their own.
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (base / "no-session-bus").string()).c_str(), 1);
    setenv(testHostVariable, "larkspin-tests", 0);
    setenv("LC_NUMERIC", "de_DE.UTF-8", 1);  // numbers in logs must not follow the locale
    return base;
}

}  // namespace larkspin::test
