// Cold launches of the `larkspin` process, each as a test host in a fresh
// temporary home, ended with SIGTERM. The cache folder (fontconfig's, Mesa's)
// is shared by the runs, as a user's is, and warmed by a first round that is
// not counted. Runs of the scenarios alternate; figures are medians.
//
// - first window: given a file that does not exist, to its error dialog
//   shown (the "首个窗口已显示" line);
// - 100 KiB document: given one generated 100 KiB Markdown file, to the
//   page's "rendered" reply for it (its first screen is in the page: the
//   reply follows the content's insertion, and the paint is the next frame);
// - floor: larkspin_launch_floor, a minimal GTK 4 + WebKitGTK program, on the
//   same file, to the first frame painted with content down to the window's
//   bottom;
// - session of 10 documents in 2 windows: no file given, a kept session of
//   two group windows of five tabs each, to both windows' selected documents
//   rendered.
//
//   xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" dbus-run-session -- \
//       build/release/bench/launch/larkspin_launch_bench [runs [program]]
//
// `program` replaces the `larkspin` of this build (another build's).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "../render/GeneratedDocument.hpp"
#include "Support/LaunchedProgram.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

struct Scenario {
    const char* label;
    // The program and its arguments, given the run's home.
    std::function<std::vector<std::string>(const fs::path& home)> argv;
    // Prepares the home before the start.
    std::function<void(const fs::path& home)> prepare;
    // The lines that must all have appeared.
    std::vector<std::string> awaited;
    std::vector<double> times;
};

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Ten documents in two group windows of five, the third and the fifth tab
// selected.
void writeSession(const fs::path& home) {
    nlohmann::json groups = nlohmann::json::array();
    for (int group = 0; group < 2; ++group) {
        nlohmann::json tabs = nlohmann::json::array();
        for (int index = 0; index < 5; ++index) {
            const fs::path path = home / "docs" / ("doc" + std::to_string(group * 5 + index) + ".md");
            writeFile(path, larkspin::bench::generatedDocument(20 * 1024));
            tabs.push_back({{"path", path.string()},
                            {"Orvik.tab.present", true},
                            {"Orvik.tab.groupToken", group + 1},
                            {"Orvik.tab.index", index},
                            {"Orvik.tab.isSelected", index == (group == 0 ? 2 : 4)}});
        }
        groups.push_back({{"width", 1180}, {"height", 820}, {"tabs", tabs}});
    }
    writeFile(home / "state" / "Larkspin" / "session.json",
              nlohmann::json{{"version", 1}, {"groups", groups}}.dump());
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    static const std::string programPath = argc > 2 ? argv[2] : LARKSPIN_PROGRAM;
    char cachePattern[] = "/tmp/larkspin-launch-cache-XXXXXX";
    const char* cache = ::mkdtemp(cachePattern);
    if (!cache) return 1;
    const std::string document = larkspin::bench::generatedDocument(100 * 1024);

    std::vector<Scenario> scenarios;
    scenarios.push_back({"first window (missing file: its error dialog)",
                         [](const fs::path& home) {
                             return std::vector<std::string>{programPath,
                                                             (home / "missing.md").string()};
                         },
                         nullptr, {"首个窗口已显示"}, {}});
    scenarios.push_back({"100 KiB document to its first screen rendered",
                         [](const fs::path& home) {
                             return std::vector<std::string>{programPath, (home / "doc.md").string()};
                         },
                         [&](const fs::path& home) { writeFile(home / "doc.md", document); },
                         {"rendered："}, {}});
    scenarios.push_back({"floor: GTK 4 + WebKitGTK, same file, first screen painted",
                         [](const fs::path& home) {
                             return std::vector<std::string>{LARKSPIN_LAUNCH_FLOOR,
                                                             (home / "doc.md").string()};
                         },
                         [&](const fs::path& home) { writeFile(home / "doc.md", document); },
                         {"first screen"}, {}});
    scenarios.push_back({"session of 10 documents in 2 windows, both selected rendered",
                         nullptr, writeSession,
                         {"会话已恢复：2 个窗口，10 份文档", "doc2.md 渲染完成", "doc9.md 渲染完成"}, {}});
    scenarios.back().argv = [](const fs::path&) { return std::vector<std::string>{programPath}; };

    for (int run = 0; run <= runs; ++run) {
        for (Scenario& scenario : scenarios) {
            char pattern[] = "/tmp/larkspin-launch-XXXXXX";
            const char* made = ::mkdtemp(pattern);
            if (!made) return 1;
            const fs::path home(made);
            if (scenario.prepare) scenario.prepare(home);
            const std::map<std::string, std::string> environment{
                {"XCTestConfigurationFilePath", "larkspin-bench"},
                {"HOME", home.string()},
                {"XDG_CONFIG_HOME", (home / "config").string()},
                {"XDG_DATA_HOME", (home / "data").string()},
                {"XDG_STATE_HOME", (home / "state").string()},
                {"XDG_CACHE_HOME", cache},
                {"G_MESSAGES_DEBUG", "dev.corvantel.larkspin"},
                {"LARKSPIN_LOG_PRIVATE", "1"},
                {"GDK_BACKEND", "x11"},
                {"LIBGL_ALWAYS_SOFTWARE", "1"},
                {"NO_AT_BRIDGE", "1"},
            };
            const auto start = steady_clock::now();
            larkspin::test::LaunchedProgram program(scenario.argv(home), environment);
            bool seen = true;
            for (const auto& line : scenario.awaited) seen = seen && program.waitForOutput(line, seconds(60));
            const double ms = duration<double, std::milli>(steady_clock::now() - start).count();
            ::kill(program.pid(), SIGTERM);
            program.waitForExit(seconds(30));
            std::error_code ignored;
            fs::remove_all(home, ignored);
            if (!seen) {
                std::fprintf(stderr, "%s, run %d: not seen\n%s\n", scenario.label, run,
                             program.output().c_str());
                return 1;
            }
            // The first round warms the file cache and is not counted.
            if (run > 0) scenario.times.push_back(ms);
        }
    }
    std::error_code ignored;
    fs::remove_all(cache, ignored);
    std::printf("cold launches, %d runs each (median, min, max):\n", runs);
    for (Scenario& scenario : scenarios) {
        std::sort(scenario.times.begin(), scenario.times.end());
        std::printf("  %-64s %5.0f ms %5.0f ms %5.0f ms\n", scenario.label,
                    scenario.times[scenario.times.size() / 2], scenario.times.front(),
                    scenario.times.back());
    }
    return 0;
}
