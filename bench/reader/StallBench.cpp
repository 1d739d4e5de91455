// How long a render keeps the main loop from turning. Run by hand under Xvfb,
// from a build with benchmarks:
//
//   export GDK_BACKEND=x11 GDK_DEBUG=gl-disable LIBGL_ALWAYS_SOFTWARE=1
//   xvfb-run -a -s "-screen 0 1280x1024x24" <build>/bench/reader/larkspin_stall_bench
//
// Options: --repeat N (renders of each document, 3 unless told), --only TEXT
// (only the documents whose label holds TEXT, such as "20 MiB").
//
// For generated documents of 1, 5 and 20 MiB (GeneratedDocument.hpp): one
// reader in a shown 1024×768 window loads its page and says "ready"; then
// each run renders the document as the program renders a large one (no
// highlighting, math or diagrams) while a 10 ms GLib timer ticks on the main
// loop, from the render request until the controller has handled
// "rendered". The stall is the longest time between two ticks less the
// timer's own 10 ms. Goal: at most 50 ms at every size.

#include <adwaita.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchReaderOwner.hpp"
#include "App/ApplicationServices.hpp"
#include "BenchPreferences.hpp"
#include "FirstScreen.hpp"
#include "GeneratedDocument.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Schemes/RendererDirectory.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/Widgets/ReaderWebViewFactory.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "BenchSetup.hpp"

namespace larkspin::bench {
namespace {

constexpr guint probePeriodMs = 10;
constexpr double stallGoalMs = 50;

// A GLib timer on the default main context that records the longest time
// between two of its ticks (and between its start and its first tick).
class LoopProbe {
public:
    LoopProbe() : last_(g_get_monotonic_time()) {
        source_ = g_timeout_add(probePeriodMs, &LoopProbe::tick, this);
    }
    ~LoopProbe() { stop(); }
    LoopProbe(const LoopProbe&) = delete;
    LoopProbe& operator=(const LoopProbe&) = delete;

    // The longest stall so far: the longest interval less the period.
    double stop() {
        if (source_ != 0) {
            note();
            g_source_remove(source_);
            source_ = 0;
        }
        return std::max(0.0, longestMs_ - probePeriodMs);
    }

private:
    static gboolean tick(gpointer data) {
        static_cast<LoopProbe*>(data)->note();
        return G_SOURCE_CONTINUE;
    }
    void note() {
        const gint64 now = g_get_monotonic_time();
        longestMs_ = std::max(longestMs_, static_cast<double>(now - last_) / 1000.0);
        last_ = now;
    }

    guint source_ = 0;
    gint64 last_;
    double longestMs_ = 0;
};

struct Sample {
    double stallMs = -1;
    double renderedMs = -1;
};

// One reader; `repeat` renders of `text`, each measured on its own.
std::vector<Sample> runRenders(const std::string& text, int repeat) {
    std::vector<Sample> samples;
    WebKitWebContext* context = webkit_web_context_new();
    {
        bench::BenchPreferences preferences;
        ApplicationServices services(preferences.defaults(), preferences.notifications(), {context, false});
        auto view = std::make_shared<ReaderView>(services.webViewFactory());
        GtkWindow* window = presentWindow(view->widget());
        ReaderViewController::Dependencies dependencies;
        dependencies.host = view;
        dependencies.environment = services.readerEnvironment();
        const auto owner = std::make_shared<BenchReaderOwner>();
        dependencies.owner = owner;
        auto reader = ReaderViewController::create("BENCH", std::move(dependencies));
        owner->reader = reader;
        const int& renderedCount = owner->rendered;
        reader->loadView();
        if (!test::waitFor([&] { return reader->isReady(); }, std::chrono::minutes(1))) {
            std::fprintf(stderr, "reader: no ready\n");
        } else {
            for (int round = 0; round < repeat; ++round) {
                const int before = renderedCount;
                // The program's callers move their text in; the copy is the bench's, not timed.
                std::string source = text;
                const double start = nowMs();
                LoopProbe probe;
                reader->render(std::move(source), RenderEnhancements{});
                if (!test::waitFor([&] { return renderedCount > before; }, std::chrono::minutes(3))) {
                    std::fprintf(stderr, "reader: no rendered reply\n");
                    break;
                }
                Sample sample;
                sample.stallMs = probe.stop();
                sample.renderedMs = nowMs() - start;
                std::fprintf(stderr, "  render %d/%d: stall %.0f ms, rendered after %.0f ms\n",
                             round + 1, repeat, sample.stallMs, sample.renderedMs);
                samples.push_back(sample);
            }
        }
        gtk_window_destroy(window);
        reader.reset();
        view.reset();
        MainThread::drainForTesting();
    }
    g_object_unref(context);
    return samples;
}

}  // namespace
}  // namespace larkspin::bench

int main(int argc, char** argv) {
    using namespace larkspin;
    using namespace larkspin::bench;
    const auto [repeat, only] = readOptions(argc, argv, 3);
    if (!startOnDisplay("stall")) return 2;

    test::WebViewHarness harness;  // turns WebKit's sandbox off only where it cannot start
    struct Row {
        std::string label;
        std::vector<Sample> samples;
    };
    std::vector<Row> rows;
    for (const auto& [label, mebibytes] : {std::pair{"1 MiB", 1}, std::pair{"5 MiB", 5}, std::pair{"20 MiB", 20}}) {
        if (std::string(label).find(only) == std::string::npos) continue;
        std::fprintf(stderr, "%s\n", label);
        const std::string text = generatedDocument(static_cast<std::size_t>(mebibytes) << 20);
        rows.push_back(Row{label, runRenders(text, repeat)});
    }

    std::printf("\nLongest main-loop stall from the render request to \"rendered\" handled "
                "(%u ms GLib timer), %d renders each\n\n", probePeriodMs, repeat);
    std::printf("%-9s %14s %14s %16s\n", "document", "stall median", "stall worst", "rendered median");
    for (const auto& row : rows) {
        std::vector<double> stalls, rendered;
        for (const auto& sample : row.samples) {
            stalls.push_back(sample.stallMs);
            rendered.push_back(sample.renderedMs);
        }
        const double worst = stalls.empty() ? -1 : *std::ranges::max_element(stalls);
        std::printf("%-9s %14s %14s %16s\n", row.label.c_str(), formatMs(median(stalls)).c_str(),
                    formatMs(worst).c_str(), formatMs(median(rendered)).c_str());
    }
    std::printf("\nGoal\n");
    for (const auto& row : rows) {
        double worst = -1;
        for (const auto& sample : row.samples) worst = std::max(worst, sample.stallMs);
        std::printf("  [%s] %s: longest stall (%s) at most %.0f ms\n",
                    worst >= 0 && worst <= stallGoalMs ? "met" : "MISSED", row.label.c_str(),
                    formatMs(worst).c_str(), stallGoalMs);
    }
    return 0;
}
