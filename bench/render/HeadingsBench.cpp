// Documents made of many headings, rendered by the reading page in a real
// WebKitGTK web view and shown in the program's outline, at 10k, 50k and
// 170k headings: the time per heading should stay flat. Run by hand under
// Xvfb, from a build with benchmarks:
//
//   export GDK_BACKEND=x11 LIBGL_ALWAYS_SOFTWARE=1
//   xvfb-run -a -s "-screen 0 1280x1024x24" <build>/bench/render/larkspin_headings_bench
//
// Options: --repeat N (runs of each size, 1 unless given), --only TEXT (the
// sizes whose label holds TEXT, such as "50k").
//
// Each document is sections of a heading (levels 1 to 4 in turn, one in
// eight a repeated title, so that identifiers are made unique) and a short
// paragraph, about 115 bytes a section. Each run loads the page in a web
// view of its own in a visible 1024×768 window, sends one render request
// without highlighting, math and diagrams (as the reader does for a file
// over 5 MiB) and measures:
//   reply     from the request to "rendered" (the outline and find ready),
//             with the page's own parse and insertion times and frames;
//   program   the reply's text decoded as the reader decodes it (on a
//             worker in the program), and the outline sidebar given its
//             headings until GTK has laid it out and painted (main thread);
//   highlight the outline selecting the active heading's row, as it does
//             at each heading the reader scrolls past (main thread; the
//             mean of the last 50 headings of the document, one by one).
// Figures are medians; each size's time per heading is given against the
// 10k document's of the same run (flat is 1.0).

#include <adwaita.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "BenchSetup.hpp"
#include "Protocol/Envelope/BridgeEnvelope.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Support/Display/RendererPage.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Window/Widgets/OutlineSidebar.hpp"

namespace larkspin::bench {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int windowWidth = 1024;
constexpr int windowHeight = 768;

// The request, run in the page world: the reply as text (as the reader gets
// it) and how long it took.
constexpr const char* measure = R"(
    const nextFrame = () => new Promise((done) => requestAnimationFrame(done));
    for (let i = 0; i < 3; i++) await nextFrame();
    const started = performance.now();
    const reply = await window.Orvik.handleMessage(JSON.parse(message));
    const replyMs = performance.now() - started;
    return { replyMs, text: JSON.stringify(reply) };
)";

std::string headingsDocument(int count) {
    std::string text;
    text.reserve(static_cast<std::size_t>(count) * 120);
    for (int i = 0; i < count; ++i) {
        text.append(static_cast<std::size_t>(1 + i % 4), '#');
        if (i % 8 == 7)
            text += " Notes\n\n";
        else
            text += " Section " + std::to_string(i) + "\n\n";
        text += "Some text for section " + std::to_string(i) + ": a short paragraph of words, then stops.\n\n";
    }
    return text;
}

struct Sample {
    double reply = -1;
    double parse = -1;
    double dom = -1;
    double frames = -1;
    double decode = -1;
    double outline = -1;
    double highlight = -1;
    int headings = 0;
    bool degraded = false;
};

std::optional<Sample> run(test::WebViewHarness& harness,
                          const std::shared_ptr<AppResourceSchemeHandler>& renderer,
                          const std::string& source) {
    test::RendererPage page(harness.context(), renderer, nullptr);
    const ShownWindow shown(GTK_WIDGET(page.view()), windowWidth, windowHeight);
    const test::LoadOutcome load = page.load();
    if (!load.finished || load.failed || !page.waitForEvent("ready")) {
        std::fprintf(stderr, "the page did not load: %s\n", load.error.c_str());
        return std::nullopt;
    }
    if (page.request("probe")["payload"].value("moduleWorker", false) != true) {
        std::fprintf(stderr, "the parse worker did not answer\n");
        return std::nullopt;
    }
    json payload = {{"source", source},
                    {"language", "en"},
                    {"enhancements", {{"highlight", false}, {"math", false}, {"diagrams", false}}}};
    const json result = page.script(measure, {{"message", page.envelope("render", payload).dump()}},
                                    std::chrono::minutes(20));
    if (!result.contains("text")) {
        std::fprintf(stderr, "no reply: %s\n", result.dump().substr(0, 400).c_str());
        return std::nullopt;
    }
    Sample sample;
    sample.reply = result["replyMs"].get<double>();

    // The program's side: the reply decoded as the reader does, then the outline.
    const std::string text = result["text"].get<std::string>();
    auto started = Clock::now();
    const RenderedPayload rendered = BridgeEnvelope::decode(text).decodePayload<RenderedPayload>();
    sample.decode = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    if (rendered.degraded) {
        sample.degraded = true;
        std::fprintf(stderr, "degraded: %s\n", rendered.degraded->reason.c_str());
    }
    sample.headings = static_cast<int>(rendered.headings.size());
    if (rendered.timings) {
        sample.parse = rendered.timings->parseMs;
        sample.dom = rendered.timings->domMs;
        sample.frames = rendered.timings->frameCount;
    }

    auto* outlineWindow = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(outlineWindow, 300, windowHeight);
    OutlineSidebar sidebar;
    gtk_window_set_child(outlineWindow, sidebar.widget());
    gtk_window_present(outlineWindow);
    test::waitFor([&] { return gtk_widget_get_mapped(sidebar.widget()); });
    started = Clock::now();
    sidebar.update(rendered.headings);
    // Until GTK has laid the rows out and painted them: the frame after the update.
    bool painted = false;
    GdkFrameClock* clock = gtk_widget_get_frame_clock(sidebar.widget());
    const gulong painting = g_signal_connect_swapped(
        clock, "after-paint", G_CALLBACK(+[](bool* done) { *done = true; }), &painted);
    gtk_widget_queue_draw(sidebar.widget());
    while (!painted) g_main_context_iteration(nullptr, TRUE);
    g_signal_handler_disconnect(clock, painting);
    sample.outline = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    // The reader scrolling through the end of the document: the active
    // heading moves to the next one, and the outline selects its row each
    // time.
    if (rendered.headings.size() > 60) {
        constexpr std::size_t steps = 50;
        const std::size_t first = rendered.headings.size() - steps - 1;
        sidebar.highlight(rendered.headings[first].id);
        started = Clock::now();
        for (std::size_t i = 1; i <= steps; ++i) sidebar.highlight(rendered.headings[first + i].id);
        sample.highlight = std::chrono::duration<double, std::milli>(Clock::now() - started).count() / steps;
    }
    gtk_window_destroy(outlineWindow);
    return sample;
}

std::string ms(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value < 0 ? "-" : "%.0f ms", value);
    return text;
}

std::string ms2(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value < 0 ? "-" : "%.2f ms", value);
    return text;
}

std::string us(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f µs", value);
    return text;
}

}  // namespace
}  // namespace larkspin::bench

int main(int argc, char** argv) {
    using namespace larkspin;
    using namespace larkspin::bench;
    const auto [repeat, only] = readOptions(argc, argv, 1);
    const auto dist = startOnDisplay("headings");
    if (!dist) return 2;
    test::WebViewHarness harness;
    const auto renderer = AppResourceSchemeHandler::create(*dist, std::make_shared<PooledResourceWorkers>("bench", 1));

    const std::vector<std::pair<std::string, int>> sizes{{"10k", 10000}, {"50k", 50000}, {"170k", 170000}};
    std::map<std::string, std::vector<Sample>> samples;
    for (int round = 0; round < repeat; ++round) {
        for (const auto& [label, count] : sizes) {
            if (label.find(only) == std::string::npos) continue;
            std::fprintf(stderr, "round %d/%d: %s headings\n", round + 1, repeat, label.c_str());
            if (auto sample = run(harness, renderer, headingsDocument(count))) samples[label].push_back(*sample);
        }
    }

    std::printf("\nHeadings in a %d×%d WebKitGTK view and the outline, medians of %d runs\n\n", windowWidth,
                windowHeight, repeat);
    std::printf("%-6s %8s %10s %10s %10s %8s %10s %10s %10s %12s %12s %8s %8s\n", "size", "headings",
                "reply", "parse", "insert", "frames", "decode", "outline", "highlight", "page/heading",
                "prog/heading", "page ×", "prog ×");
    double pageBase = -1;
    double programBase = -1;
    for (const auto& [label, count] : sizes) {
        const auto& runs = samples[label];
        if (runs.empty()) continue;
        const auto pick = [&](auto field) {
            std::vector<double> values;
            for (const auto& one : runs) values.push_back(static_cast<double>(one.*field));
            return median(values);
        };
        const double reply = pick(&Sample::reply);
        const double program = pick(&Sample::decode) + pick(&Sample::outline);
        const double pagePer = reply * 1000 / count;
        const double programPer = program * 1000 / count;
        if (pageBase < 0) pageBase = pagePer;
        if (programBase < 0) programBase = programPer;
        std::printf("%-6s %8.0f %10s %10s %10s %8.0f %10s %10s %10s %12s %12s %8.2f %8.2f%s\n", label.c_str(),
                    pick(&Sample::headings), ms(reply).c_str(), ms(pick(&Sample::parse)).c_str(),
                    ms(pick(&Sample::dom)).c_str(), pick(&Sample::frames), ms(pick(&Sample::decode)).c_str(),
                    ms(pick(&Sample::outline)).c_str(), ms2(pick(&Sample::highlight)).c_str(),
                    us(pagePer).c_str(), us(programPer).c_str(),
                    pagePer / pageBase, programPer / programBase, runs.front().degraded ? " (degraded)" : "");
    }
    return 0;
}
