// Cold launches to "visually complete", judged from the screen alone: the
// real `larkspin` and the floor (larkspin_launch_floor), each run on an X
// server and a session bus of its own, in a fresh temporary home. The cache
// folder (fontconfig's, Mesa's) is shared and warmed by a first round that is
// not counted, as a user's is warm.
//
// The bench reads the whole root window every 40 ms (XGetImage) and hashes
// its pixels. First window: the first screen that differs from the empty
// server's. Visually complete: the last change of the screen before it stays
// the same for 2 s while the program's processes are idle (together under
// 10 % of one core over those 2 s). Visible complete: the same, leaving out
// changes no one can see (no colour channel moved by more than 2 of 255),
// which WebKit's repaints over the theme's gradient make now and then; both
// are reported. Memory: the PSS of the program and every
// process under it (WebKit's web and network processes), read at the last
// change and again once settled. The program runs as it does for a user (no
// test host), so its spare web view counts where it has one. Both show
// classic scrollbars (the home's GTK settings): the overlay scrollbar's fade
// after a load would otherwise be the last change of the screen.
//
//   build/release/bench/launch/larkspin_visual_bench [runs [program]]
//
// `program` replaces the `larkspin` of this build (another build's, to
// compare two in one run of the floor).
// No outer Xvfb or bus is needed: the bench starts its own.
// LARKSPIN_BENCH_VERBOSE=1 lists every change of the screen;
// LARKSPIN_BENCH_FRAMES=<folder> keeps each changed screen as a PPM image.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../render/GeneratedDocument.hpp"
#include "PrivateSession.hpp"
#include "Support/LaunchedProgram.hpp"

// Last: Xlib's macros clash with ordinary names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using larkspin::test::LaunchedProgram;

constexpr auto pollEvery = milliseconds(40);
constexpr auto stableFor = seconds(2);
constexpr auto giveUpAfter = seconds(60);
constexpr double idleShare = 0.10;  // of one core, over the stable window
// A change where no colour channel of any pixel moved by more than this
// (of 255) cannot be seen: WebKit repainting a block over the theme's
// gradient now and then draws the gradient beneath it one level off.
// "Visually complete" counts every change; "visible complete" not these.
constexpr int invisibleLevels = 2;
// LARKSPIN_BENCH_VERBOSE=1 lists every change of the screen on stderr.
const bool verbose = std::getenv("LARKSPIN_BENCH_VERBOSE") != nullptr;
// LARKSPIN_BENCH_FRAMES=<folder> keeps every changed screen there as a PPM
// named by its time, to see what changed when.
const char* const framesFolder = std::getenv("LARKSPIN_BENCH_FRAMES");

struct Launch {
    double firstWindowMs = 0;
    double completeMs = 0;
    double visibleCompleteMs = 0;  // the last change of more than `invisibleLevels`
    double pssAtCompleteMiB = 0;
    double pssSettledMiB = 0;
};

using larkspin::bench::Bus;
using larkspin::bench::Server;

void writeFrame(XImage* image, int width, int height, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << ' ' << height << "\n255\n";
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const char rgb[3] = {static_cast<char>((pixel >> 16) & 0xff), static_cast<char>((pixel >> 8) & 0xff),
                                 static_cast<char>(pixel & 0xff)};
            out.write(rgb, 3);
        }
    }
}

// The largest difference of one colour channel between two screens of the
// same size (256 when they differ in size).
int largestDifference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    if (a.size() != b.size()) return 256;
    int largest = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        for (int shift = 0; shift < 24; shift += 8) {
            const int x = static_cast<int>((a[i] >> shift) & 0xff);
            const int y = static_cast<int>((b[i] >> shift) & 0xff);
            largest = std::max(largest, x > y ? x - y : y - x);
        }
    }
    return largest;
}

// The screen's pixels, hashed; none when the image could not be read. With
// `frame`, a changed screen (against `previous`) is also written there; with
// `pixels`, a changed screen's pixels are kept there.
std::optional<std::uint64_t> screenHash(Display* display, const std::string& frame = {},
                                        std::optional<std::uint64_t> previous = std::nullopt,
                                        std::vector<std::uint32_t>* pixels = nullptr) {
    const Window root = DefaultRootWindow(display);
    const int width = DisplayWidth(display, DefaultScreen(display));
    const int height = DisplayHeight(display, DefaultScreen(display));
    XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (!image) return std::nullopt;
    std::uint64_t hash = 1469598103934665603ull;
    const std::size_t bytes = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(height);
    const char* data = image->data;
    for (std::size_t offset = 0; offset + 8 <= bytes; offset += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + offset, 8);
        hash = (hash ^ word) * 1099511628211ull;
    }
    if (!frame.empty() && hash != previous) writeFrame(image, width, height, frame);
    if (pixels && hash != previous) {
        pixels->resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                (*pixels)[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
                    static_cast<std::uint32_t>(XGetPixel(image, x, y) & 0xffffff);
            }
        }
    }
    XDestroyImage(image);
    return hash;
}

// A file of /proc, read with plain system calls: a process may end while it
// is read, and the stream library throws then. Empty when it is gone.
std::string procFile(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(count));
    ::close(fd);
    return text;
}

// Every process whose ancestry leads to `root`, `root` included.
std::vector<pid_t> processTree(pid_t root) {
    std::map<pid_t, pid_t> parents;
    if (DIR* proc = ::opendir("/proc")) {
        while (dirent* entry = ::readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
            if (pid <= 0) continue;
            const std::string text = procFile("/proc/" + std::to_string(pid) + "/stat");
            const auto close = text.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(text.substr(close + 2));
            char state = 0;
            pid_t parent = 0;
            rest >> state >> parent;
            parents[pid] = parent;
        }
        ::closedir(proc);
    }
    std::vector<pid_t> tree{root};
    for (std::size_t index = 0; index < tree.size(); ++index) {
        for (const auto& [pid, parent] : parents) {
            if (parent == tree[index]) tree.push_back(pid);
        }
    }
    return tree;
}

// CPU time (user and system) of the processes, in seconds.
double cpuSeconds(const std::vector<pid_t>& pids) {
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    double total = 0;
    for (pid_t pid : pids) {
        const std::string text = procFile("/proc/" + std::to_string(pid) + "/stat");
        const auto close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        // Fields 3 to 13, then utime (14) and stime (15).
        for (int skip = 0; skip < 11; ++skip) rest >> field;
        unsigned long user = 0, system = 0;
        rest >> user >> system;
        total += static_cast<double>(user + system) / tick;
    }
    return total;
}

// PSS of the processes, in MiB.
double pssMiB(const std::vector<pid_t>& pids) {
    double kib = 0;
    for (pid_t pid : pids) {
        std::istringstream rollup(procFile("/proc/" + std::to_string(pid) + "/smaps_rollup"));
        std::string line;
        while (std::getline(rollup, line)) {
            if (line.rfind("Pss:", 0) == 0) {
                kib += std::atof(line.c_str() + 4);
                break;
            }
        }
    }
    return kib / 1024.0;
}

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// One cold launch of `program` on `document`; none when it did not settle.
std::optional<Launch> launch(const std::string& program, const std::string& document, const std::string& cache) {
    const Server server;
    if (server.name().empty()) return std::nullopt;
    const Bus bus;
    if (bus.address().empty()) return std::nullopt;
    Display* display = XOpenDisplay(server.name().c_str());
    if (!display) return std::nullopt;
    char pattern[] = "/tmp/larkspin-visual-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) return std::nullopt;
    const fs::path home(made);
    writeFile(home / "doc.md", document);
    // Classic scrollbars: an overlay scrollbar shows at load and fades for
    // seconds after, which would be the last change of either program.
    writeFile(home / "config" / "gtk-4.0" / "settings.ini", "[Settings]\ngtk-overlay-scrolling=false\n");
    const std::map<std::string, std::string> environment{
        {"XCTestConfigurationFilePath", ""},
        {"DISPLAY", server.name()},
        {"WAYLAND_DISPLAY", ""},
        {"DBUS_SESSION_BUS_ADDRESS", bus.address()},
        {"HOME", home.string()},
        {"XDG_CONFIG_HOME", (home / "config").string()},
        {"XDG_DATA_HOME", (home / "data").string()},
        {"XDG_STATE_HOME", (home / "state").string()},
        {"XDG_CACHE_HOME", cache},
        {"GDK_BACKEND", "x11"},
        {"LIBGL_ALWAYS_SOFTWARE", "1"},
        {"NO_AT_BRIDGE", "1"},
    };
    const std::optional<std::uint64_t> blank = screenHash(display);

    static int launchNumber = 0;
    ++launchNumber;
    const auto start = steady_clock::now();
    LaunchedProgram launched({program, (home / "doc.md").string()}, environment);
    std::optional<std::uint64_t> last = blank;
    std::optional<steady_clock::time_point> firstWindow;
    steady_clock::time_point lastChange = start;
    steady_clock::time_point lastVisibleChange = start;
    std::vector<std::uint32_t> pixels, shown;  // the last screen read, the last visibly different one
    double pssAtChange = 0;
    std::vector<std::pair<steady_clock::time_point, double>> cpu;  // the stable window's samples
    std::optional<Launch> result;
    while (launched.started() && steady_clock::now() - start < giveUpAfter) {
        const auto tick = steady_clock::now();
        std::string frame;
        if (framesFolder) {
            char name[64];
            std::snprintf(name, sizeof name, "/%02d-%s-%05.0f.ppm", launchNumber, fs::path(program).filename().c_str(),
                          duration<double, std::milli>(tick - start).count());
            frame = framesFolder + std::string(name);
        }
        const std::optional<std::uint64_t> hash = screenHash(display, frame, last, &pixels);
        const auto now = steady_clock::now();
        const std::vector<pid_t> tree = processTree(launched.pid());
        if (hash && hash != last) {
            last = hash;
            lastChange = now;
            if (largestDifference(pixels, shown) > invisibleLevels) {
                lastVisibleChange = now;
                shown = pixels;
            }
            if (!firstWindow && hash != blank) firstWindow = now;
            pssAtChange = pssMiB(tree);
            cpu.clear();
            if (verbose) {
                std::fprintf(stderr, "  %s: screen changed at %.0f ms%s\n", fs::path(program).filename().c_str(),
                             duration<double, std::milli>(now - start).count(),
                             lastVisibleChange == now ? "" : " (not visibly)");
            }
        }
        cpu.emplace_back(now, cpuSeconds(tree));
        while (cpu.size() > 1 && now - cpu.front().first > stableFor) cpu.erase(cpu.begin());
        if (firstWindow && now - lastChange >= stableFor) {
            const double span = duration<double>(cpu.back().first - cpu.front().first).count();
            const double used = cpu.back().second - cpu.front().second;
            if (span > 0 && used <= idleShare * span) {
                result = Launch{duration<double, std::milli>(*firstWindow - start).count(),
                                duration<double, std::milli>(lastChange - start).count(),
                                duration<double, std::milli>(lastVisibleChange - start).count(), pssAtChange,
                                pssMiB(tree)};
                break;
            }
        }
        // Keeps the program's output pipe from filling.
        launched.waitForOutput("\x01", milliseconds(1));
        std::this_thread::sleep_until(tick + pollEvery);
    }
    if (!result) std::fprintf(stderr, "%s: no settled screen\n%s\n", program.c_str(), launched.output().c_str());
    ::kill(launched.pid(), SIGTERM);
    launched.waitForExit(seconds(30));
    XCloseDisplay(display);
    std::error_code ignored;
    fs::remove_all(home, ignored);
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Series {
    std::vector<double> firstWindow, complete, visibleComplete, pssAtComplete, pssSettled;
    void add(const Launch& launch) {
        firstWindow.push_back(launch.firstWindowMs);
        complete.push_back(launch.completeMs);
        visibleComplete.push_back(launch.visibleCompleteMs);
        pssAtComplete.push_back(launch.pssAtCompleteMiB);
        pssSettled.push_back(launch.pssSettledMiB);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string program = argc > 2 ? argv[2] : LARKSPIN_PROGRAM;
    char cachePattern[] = "/tmp/larkspin-visual-cache-XXXXXX";
    const char* cache = ::mkdtemp(cachePattern);
    if (!cache) return 1;
    struct Size {
        const char* label;
        std::size_t bytes;
        double goalMs;
    };
    const Size sizes[] = {{"100 KiB", 100 * 1024, 1100}, {"1 MiB", 1024 * 1024, 1900}};
    std::map<std::string, Series> ours, floors;
    for (int run = 0; run <= runs; ++run) {
        for (const Size& size : sizes) {
            const std::string document = larkspin::bench::generatedDocument(size.bytes);
            // Alternated, so that a change of load falls on both.
            const auto a = launch(program, document, cache);
            const auto b = launch(LARKSPIN_LAUNCH_FLOOR, document, cache);
            if (!a || !b) return 1;
            // The first round warms the caches and is not counted.
            if (run == 0) continue;
            ours[size.label].add(*a);
            floors[size.label].add(*b);
        }
    }
    std::error_code ignored;
    fs::remove_all(cache, ignored);
    std::printf("cold launch to visually complete, medians of %d runs (ours / floor = ratio):\n", runs);
    for (const Size& size : sizes) {
        const Series& o = ours[size.label];
        const Series& f = floors[size.label];
        const double complete = median(o.complete);
        std::printf("  %s\n", size.label);
        std::printf("    first window       %6.0f / %6.0f ms = %.2f\n", median(o.firstWindow),
                    median(f.firstWindow), median(o.firstWindow) / median(f.firstWindow));
        std::printf("    visually complete  %6.0f / %6.0f ms = %.2f   goal <= %.0f ms: %s\n", complete,
                    median(f.complete), complete / median(f.complete), size.goalMs,
                    complete <= size.goalMs ? "met" : "not met");
        const double visibleMs = median(o.visibleComplete);
        std::printf("    visible complete   %6.0f / %6.0f ms = %.2f   goal <= %.0f ms: %s\n", visibleMs,
                    median(f.visibleComplete), visibleMs / median(f.visibleComplete), size.goalMs,
                    visibleMs <= size.goalMs ? "met" : "not met");
        std::printf("    PSS at complete    %6.1f / %6.1f MiB = %.2f   goal <= floor: %s\n",
                    median(o.pssAtComplete), median(f.pssAtComplete),
                    median(o.pssAtComplete) / median(f.pssAtComplete),
                    median(o.pssAtComplete) <= median(f.pssAtComplete) ? "met" : "not met");
        std::printf("    PSS settled        %6.1f / %6.1f MiB = %.2f\n", median(o.pssSettled),
                    median(f.pssSettled), median(o.pssSettled) / median(f.pssSettled));
    }
    return 0;
}
