#pragma once

// What every benchmark with a real web view shares: reading its options,
// starting GTK and libadwaita on the display, keeping log lines out of the
// figures, finding the reading page's files, and the median of its runs.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Schemes/RendererDirectory.hpp"

namespace larkspin::bench {

struct BenchOptions {
    int repeat = 3;    // --repeat N
    std::string only;  // --only TEXT: only what is labelled with TEXT
};

inline BenchOptions readOptions(int argc, char** argv, int defaultRepeat) {
    BenchOptions options;
    options.repeat = defaultRepeat;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            options.repeat = std::max(1, std::atoi(argv[++i]));
        }
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) options.only = argv[++i];
    }
    return options;
}

// A visible window of the given size holding `child`, destroyed with this
// value: a page measured on screen, as a reader shows it.
class ShownWindow {
public:
    ShownWindow(GtkWidget* child, int width, int height) : window_(GTK_WINDOW(gtk_window_new())) {
        gtk_window_set_default_size(window_, width, height);
        gtk_window_set_child(window_, child);
        gtk_window_present(window_);
    }
    ~ShownWindow() { gtk_window_destroy(window_); }
    ShownWindow(const ShownWindow&) = delete;
    ShownWindow& operator=(const ShownWindow&) = delete;

private:
    GtkWindow* window_;
};

// The middle value (the mean of the two middle ones for an even count); -1
// for no values.
inline double median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The reading page's folder once GTK runs on a display; none (with a word on
// standard error) when there is no display or no built page.
inline std::optional<std::filesystem::path> startOnDisplay(const char* benchmark) {
    MainThread::initialize();
    if (!gtk_init_check()) {
        std::fprintf(stderr, "the %s benchmark needs a display: run it under xvfb-run\n", benchmark);
        return std::nullopt;
    }
    adw_init();
    AppLog::setCaptureHook([](const LogRecord&) {});
    auto dist = RendererDirectory::locate();
    if (!dist) std::fprintf(stderr, "renderer/dist not found: run scripts/build-renderer.sh\n");
    return dist;
}

}  // namespace larkspin::bench
