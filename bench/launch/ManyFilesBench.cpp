// Many files at once: the real `larkspin` given 1, 30 and 300 small files on
// its command line (as a file manager or a shell glob hands them over), each
// run on an X server and a session bus of its own, in a fresh temporary home,
// as a user runs it (no test host).
//
// - opened: from the start of the process to the window's title naming the
//   last file (the last tab is in its window and selected: every page is
//   made), read from the X server every 10 ms;
// - longest stall: the longest wait of the program's main loop, probed from a
//   thread of the bench that calls one of the application's D-Bus methods
//   (org.gtk.Actions.List, answered on the main loop) every 5 ms from its
//   registration until a second after the title, each call's round trip
//   being how long the loop kept it waiting.
//
// Per file: (opened(30) - opened(1)) / 29 and (opened(300) - opened(30)) /
// 270; adding a tab should cost the same whatever the number of tabs, and the
// longest stall should not grow with it.
//
//   build/release/bench/launch/larkspin_many_files_bench [runs [program]]
//
// No outer Xvfb or bus is needed: the bench starts its own.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gio/gio.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "PrivateSession.hpp"
#include "Support/LaunchedProgram.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using larkspin::test::LaunchedProgram;

constexpr auto giveUpAfter = seconds(300);

using larkspin::bench::Bus;
using larkspin::bench::Server;

// Calls the application's action list over the bus every 5 ms; the longest
// answered round trip is the longest the main loop kept a caller waiting.
class StallProbe {
public:
    explicit StallProbe(const std::string& busAddress) {
        thread_ = std::thread([this, busAddress] { run(busAddress); });
    }
    ~StallProbe() { stop(); }
    void stop() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
    }
    double longestMs() const { return longest_.load(); }
    int answered() const { return answered_.load(); }

private:
    void run(const std::string& address) {
        GError* error = nullptr;
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (!bus) {
            std::fprintf(stderr, "bus: %s\n", error->message);
            g_error_free(error);
            return;
        }
        const std::string path = "/" + std::regex_replace(std::string(LARKSPIN_APP_ID), std::regex("\\."), "/");
        while (!stopping_) {
            const auto start = steady_clock::now();
            GVariant* reply = g_dbus_connection_call_sync(bus, LARKSPIN_APP_ID, path.c_str(), "org.gtk.Actions",
                                                          "List", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                          600000, nullptr, &error);
            const double ms = duration<double, std::milli>(steady_clock::now() - start).count();
            if (reply) {
                g_variant_unref(reply);
                ++answered_;
                if (ms > longest_.load()) longest_ = ms;
            } else {
                g_clear_error(&error);  // not registered yet
            }
            std::this_thread::sleep_for(milliseconds(5));
        }
        g_object_unref(bus);
    }

    std::atomic<bool> stopping_{false};
    std::atomic<double> longest_{0};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

// Whether a top-level window's title names `name`.
bool titleShown(Display* display, const std::string& name) {
    const Window root = DefaultRootWindow(display);
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) return false;
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    bool found = false;
    for (unsigned int index = 0; index < count && !found; ++index) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* value = nullptr;
        if (XGetWindowProperty(display, children[index], netName, 0, 1024, False, utf8, &type, &format, &items,
                               &after, &value) == Success &&
            value) {
            found = std::string(reinterpret_cast<char*>(value), items).find(name) != std::string::npos;
            XFree(value);
        }
    }
    if (children) XFree(children);
    return found;
}

struct Run {
    double openedMs = 0;
    double longestStallMs = 0;
};

std::string fileName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "f%03d.md", index);
    return name;
}

std::optional<Run> openFiles(int count, const std::string& program, const fs::path& cache) {
    char pattern[] = "/tmp/larkspin-many-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) return std::nullopt;
    const fs::path home(made);
    std::vector<std::string> argv{program};
    fs::create_directories(home / "docs");
    for (int index = 1; index <= count; ++index) {
        const fs::path path = home / "docs" / fileName(index);
        std::ofstream(path) << "# File " << index << "\n\nA paragraph of text, *a little* of it.\n\n- one\n- two\n";
        argv.push_back(path.string());
    }
    Server server;
    Bus bus;
    Display* display = server.name().empty() ? nullptr : XOpenDisplay(server.name().c_str());
    if (!display || bus.address().empty()) return std::nullopt;
    const std::map<std::string, std::string> environment{
        {"HOME", home.string()},
        {"XDG_CONFIG_HOME", (home / "config").string()},
        {"XDG_DATA_HOME", (home / "data").string()},
        {"XDG_STATE_HOME", (home / "state").string()},
        {"XDG_CACHE_HOME", cache.string()},
        {"DISPLAY", server.name()},
        {"DBUS_SESSION_BUS_ADDRESS", bus.address()},
        {"GDK_BACKEND", "x11"},
        {"LIBGL_ALWAYS_SOFTWARE", "1"},
        {"NO_AT_BRIDGE", "1"},
        {"WAYLAND_DISPLAY", ""},
        {"XCTestConfigurationFilePath", ""},
    };
    StallProbe probe(bus.address());
    const auto start = steady_clock::now();
    LaunchedProgram launched(argv, environment);
    const std::string last = fileName(count);
    std::optional<Run> result;
    while (steady_clock::now() - start < giveUpAfter) {
        // Reading the output keeps its pipe from filling.
        launched.waitForOutput("\x01", milliseconds(10));
        if (titleShown(display, last)) {
            Run run;
            run.openedMs = duration<double, std::milli>(steady_clock::now() - start).count();
            const auto settle = steady_clock::now() + seconds(1);
            while (steady_clock::now() < settle) launched.waitForOutput("\x01", milliseconds(10));
            probe.stop();
            run.longestStallMs = probe.longestMs();
            result = run;
            break;
        }
    }
    probe.stop();
    ::kill(launched.pid(), SIGTERM);
    launched.waitForExit(seconds(30));
    XCloseDisplay(display);
    if (!result) std::fprintf(stderr, "%d files: the last title never showed\n%s\n", count, launched.output().c_str());
    std::error_code ignored;
    fs::remove_all(home, ignored);
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string program = argc > 2 ? argv[2] : LARKSPIN_PROGRAM;
    char cachePattern[] = "/tmp/larkspin-many-cache-XXXXXX";
    const char* cache = ::mkdtemp(cachePattern);
    if (!cache) return 1;
    const std::vector<int> counts{1, 30, 300};
    std::map<int, std::vector<double>> opened, stalls;
    // The first round warms the caches and is not counted.
    for (int run = 0; run <= runs; ++run) {
        for (const int count : counts) {
            const std::optional<Run> result = openFiles(count, program, cache);
            if (!result) return 1;
            std::fprintf(stderr, "run %d, %3d files: opened %.0f ms, longest stall %.0f ms\n", run, count,
                         result->openedMs, result->longestStallMs);
            if (run == 0) continue;
            opened[count].push_back(result->openedMs);
            stalls[count].push_back(result->longestStallMs);
        }
    }
    std::error_code ignored;
    fs::remove_all(cache, ignored);
    std::printf("many files at once, medians of %d runs:\n", runs);
    for (const int count : counts) {
        std::printf("  %3d files: last tab shown %7.0f ms, longest main-loop stall %6.0f ms\n", count,
                    median(opened[count]), median(stalls[count]));
    }
    const double early = (median(opened[30]) - median(opened[1])) / 29;
    const double late = (median(opened[300]) - median(opened[30])) / 270;
    std::printf("  per file, 1 to 30: %.1f ms; 30 to 300: %.1f ms (ratio %.2f, goal at most 1.5)\n", early, late,
                late / early);
    std::printf("  longest stall, 300 files against 30: ratio %.2f (goal at most 2)\n",
                median(stalls[300]) / median(stalls[30]));
    return 0;
}
