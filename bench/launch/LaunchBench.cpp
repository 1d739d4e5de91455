// Cold launch: from starting the `larkspin` process to its first window being
// shown (the "首个窗口已显示" log line), as a test host in a fresh temporary
// home each run, then ended with SIGTERM. Documents are not opened yet: the
// program is given a file that does not exist, and its error dialog is the
// first window. The cache folder (fontconfig's, Mesa's) is shared by the runs,
// as a user's is, and warmed by a first run that is not counted.
//
//   xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" dbus-run-session -- \
//       build/release/bench/launch/larkspin_launch_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Support/LaunchedProgram.hpp"

int main(int argc, char** argv) {
    using namespace std::chrono;
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::vector<double> times;
    char cachePattern[] = "/tmp/larkspin-launch-cache-XXXXXX";
    const char* cache = ::mkdtemp(cachePattern);
    if (!cache) return 1;
    for (int run = 0; run <= runs; ++run) {
        char pattern[] = "/tmp/larkspin-launch-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) return 1;
        const std::filesystem::path home(made);
        const std::map<std::string, std::string> environment{
            {"XCTestConfigurationFilePath", "larkspin-bench"},
            {"HOME", home.string()},
            {"XDG_CONFIG_HOME", (home / "config").string()},
            {"XDG_DATA_HOME", (home / "data").string()},
            {"XDG_STATE_HOME", (home / "state").string()},
            {"XDG_CACHE_HOME", cache},
            {"G_MESSAGES_DEBUG", "dev.corvantel.larkspin"},
            {"GDK_BACKEND", "x11"},
            {"LIBGL_ALWAYS_SOFTWARE", "1"},
            {"NO_AT_BRIDGE", "1"},
        };
        const auto start = steady_clock::now();
        larkspin::test::LaunchedProgram program({LARKSPIN_PROGRAM, (home / "missing.md").string()},
                                               environment);
        const bool shown = program.waitForOutput("首个窗口已显示", seconds(60));
        const double ms = duration<double, std::milli>(steady_clock::now() - start).count();
        ::kill(program.pid(), SIGTERM);
        program.waitForExit(seconds(30));
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
        if (!shown) {
            std::fprintf(stderr, "run %d: no window\n%s\n", run, program.output().c_str());
            return 1;
        }
        // The first run warms the file cache and is not counted.
        if (run > 0) times.push_back(ms);
    }
    std::error_code ignored;
    std::filesystem::remove_all(cache, ignored);
    std::sort(times.begin(), times.end());
    std::printf("cold launch to first window, %d runs: median %.0f ms, min %.0f ms, max %.0f ms\n",
                runs, times[times.size() / 2], times.front(), times.back());
    return 0;
}
