// How fast the renderer page shows a document, in a real WebKitGTK web view,
// against two naive pages rendering the same text: the plain baseline
// (markdown-it over the whole text and one innerHTML assignment,
// renderer/bench/baseline.js) and the full baseline (the same with the
// renderer's plugins, highlight.js and KaTeX in one pass, its KaTeX fonts
// loaded beforehand, renderer/bench/baseline-full.js). Run by hand under
// Xvfb, from a build with benchmarks:
//
//   export GDK_BACKEND=x11 GDK_DEBUG=gl-disable LIBGL_ALWAYS_SOFTWARE=1
//   xvfb-run -a -s "-screen 0 1280x1024x24" <build>/bench/render/larkspin_render_bench
//
// Options: --repeat N (runs of each measurement), --only TEXT (only the rows
// whose name holds TEXT, such as "1 MiB").
//
// Documents of 100 KiB, 1 MiB and 5 MiB (GeneratedDocument.hpp) go to the
// renderer page with its enhancements (highlighting, math, diagrams) and
// without ("plain"), to the plain baseline and to the full baseline. Each
// measurement loads the page in a web view of its own, in a visible 1024×768
// window, waits for "ready" (and, for the renderer, for its parse worker to
// answer a probe), then sends one render request the way the reader does
// (JSON text handed to window.Orvik.handleMessage) and records in the page:
//   first screen  from the request to the end of the first frame whose
//                 rendering shows content down to the bottom of the window
//                 (checked in a task queued from each animation frame, so
//                 after that frame's layout and paint);
//   reply         from the request to the reply ("rendered": the outline
//                 and find are ready);
//   complete      from the request to the last change to the content (a
//                 mutation observer's, once it has held still for a second)
//                 or to the first screen, whichever comes later;
//   max gap       the longest time between two animation frames of a loop
//                 started before the request is sent, until the first frame
//                 after both the first screen and the last change.
// Figures are medians of the repetitions (3 unless --repeat says otherwise),
// and the worst max gap of all of them; the frame-gap goals are judged on
// the worst. The goals are ratios against the baselines of the same run.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "GeneratedDocument.hpp"
#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/RendererDirectory.hpp"
#include "Support/Display/RendererPage.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "BenchSetup.hpp"

namespace larkspin::bench {
namespace {

using nlohmann::json;

constexpr int windowWidth = 1024;
constexpr int windowHeight = 768;

// The measured request, run in the page world; `message` is the envelope
// as JSON text.
constexpr const char* measure = R"(
    const nextFrame = () => new Promise((done) => requestAnimationFrame(done));
    const content = document.getElementById('content');
    const filled = () => {
        const shown = Array.from(content.children).filter((c) => !c.classList.contains('md-staging'));
        return shown.length > 0 && shown[shown.length - 1].getBoundingClientRect().bottom >= innerHeight;
    };
    const frames = [];
    let running = true;
    let firstScreen = null;
    let lastMutation = null;
    const afterFrame = new MessageChannel();
    afterFrame.port1.onmessage = () => {
        if (firstScreen === null && filled()) firstScreen = performance.now();
    };
    const tick = (stamp) => {
        if (!running) return;
        frames.push(stamp);
        afterFrame.port2.postMessage(0);
        requestAnimationFrame(tick);
    };
    const mutations = new MutationObserver(() => { lastMutation = performance.now(); });
    for (let i = 0; i < 3; i++) await nextFrame();
    requestAnimationFrame(tick);
    await nextFrame();

    const started = performance.now();
    mutations.observe(content, { subtree: true, childList: true, attributes: true, characterData: true });
    const reply = await window.Orvik.handleMessage(JSON.parse(message));
    const replied = performance.now();
    const deadline = replied + 20000;
    while (firstScreen === null && performance.now() < deadline) await nextFrame();
    // Complete once the content has held still for a second.
    while (performance.now() < deadline && performance.now() - Math.max(replied, lastMutation ?? replied) < 1000) {
        await nextFrame();
    }
    mutations.disconnect();
    // Complete: the last change made and shown.
    const complete = Math.max(replied, lastMutation ?? replied, firstScreen ?? replied);
    const end = complete;
    while (frames.length === 0 || frames[frames.length - 1] <= end) {
        if (performance.now() > deadline) break;
        await nextFrame();
    }
    running = false;
    afterFrame.port1.close();

    let maxGap = 0;
    let count = 0;
    for (let i = 1; i < frames.length; i++) {
        if (frames[i] < started) continue;
        if (frames[i - 1] > end) break;
        maxGap = Math.max(maxGap, frames[i] - frames[i - 1]);
        count += 1;
    }
    return {
        type: reply.type,
        code: reply.payload?.code ?? null,
        message: reply.payload?.message ?? null,
        firstScreenMs: firstScreen === null ? null : firstScreen - started,
        replyMs: replied - started,
        completeMs: complete - started,
        maxGapMs: maxGap,
        frames: count,
        blocks: reply.payload?.blocks?.length ?? null,
        degraded: reply.payload?.degraded?.reason ?? null,
        timings: reply.payload?.timings ?? null,
        size: [innerWidth, innerHeight],
    };
)";

struct Document {
    std::string label;
    std::string text;
};

struct Variant {
    std::string page;   // "renderer", "baseline" (plain) or "full" (the full baseline)
    std::string label;  // what it renders
    const Document* document;
    bool enhancements;
};

struct Sample {
    double worstGap = -1;
    double firstScreen = -1;
    double reply = -1;
    double complete = -1;
    double maxGap = -1;
    double pageParse = -1;
    double pageDom = -1;
    double pageGap = -1;
    int frames = 0;
    int pageFrames = 0;
};

class Bench {
public:
    Bench(test::WebViewHarness& harness, const std::filesystem::path& dist,
          const std::filesystem::path& benchDist)
        : context_(harness.context()),
          renderer_(AppResourceSchemeHandler::create(dist)),
          baseline_(AppResourceSchemeHandler::create(benchDist)) {}

    // Each measurement has a web view (and so a web process) of its own, as
    // each document of the reader has: what one document left behind in a
    // process (its memory, a collection due) never lands in another's figures.
    std::optional<Sample> run(const Variant& variant) {
        const bool isRenderer = variant.page == "renderer";
        test::RendererPage page(context_, isRenderer ? renderer_ : baseline_, nullptr);
        auto* window = GTK_WINDOW(gtk_window_new());
        gtk_window_set_default_size(window, windowWidth, windowHeight);
        gtk_window_set_child(window, GTK_WIDGET(page.view()));
        gtk_window_present(window);
        struct Closer {
            GtkWindow* window;
            ~Closer() { gtk_window_destroy(window); }
        } closer{window};
        const std::string url = isRenderer              ? std::string(AppResourceSchemeHandler::entryURL)
                                : variant.page == "full" ? "app-resource://renderer/baseline-full.html"
                                                         : "app-resource://renderer/baseline.html";
        const test::LoadOutcome load = page.load(url);
        if (!load.finished || load.failed || !page.waitForEvent("ready")) {
            std::fprintf(stderr, "%s: the page did not load: %s\n", variant.page.c_str(),
                         load.error.c_str());
            return std::nullopt;
        }
        if (isRenderer && page.request("probe")["payload"].value("moduleWorker", false) != true) {
            std::fprintf(stderr, "renderer: the parse worker did not answer\n");
            return std::nullopt;
        }
        json payload = {{"source", variant.document->text}, {"language", "en"}};
        if (!variant.enhancements) {
            payload["enhancements"] = {{"highlight", false}, {"math", false}, {"diagrams", false}};
        }
        const json result = page.script(measure, {{"message", page.envelope("render", payload).dump()}},
                                        std::chrono::minutes(5));
        if (result.value("type", "") != "rendered") {
            std::fprintf(stderr, "%s %s: no rendered reply: %s\n", variant.page.c_str(),
                         variant.label.c_str(), result.dump().substr(0, 400).c_str());
            return std::nullopt;
        }
        if (!result["degraded"].is_null()) {
            std::fprintf(stderr, "%s %s: degraded (%s)\n", variant.page.c_str(), variant.label.c_str(),
                         result["degraded"].get<std::string>().c_str());
        }
        if (result["size"] != json({windowWidth, windowHeight})) {
            std::fprintf(stderr, "note: the page measured %s\n", result["size"].dump().c_str());
        }
        Sample sample;
        sample.firstScreen = result["firstScreenMs"].is_number() ? result["firstScreenMs"].get<double>() : -1;
        sample.reply = result["replyMs"].get<double>();
        sample.complete = result["completeMs"].get<double>();
        sample.maxGap = result["maxGapMs"].get<double>();
        sample.frames = result["frames"].get<int>();
        if (isRenderer && result["timings"].is_object()) {
            const json& timings = result["timings"];
            sample.pageParse = timings.value("parseWaitMs", -1.0);
            sample.pageDom = timings.value("domMs", -1.0);
            sample.pageGap = timings.value("maxFrameGapMs", -1.0);
            sample.pageFrames = timings.value("frameCount", 0);
        }
        return sample;
    }

private:
    WebKitWebContext* context_;
    std::shared_ptr<AppResourceSchemeHandler> renderer_;
    std::shared_ptr<AppResourceSchemeHandler> baseline_;
};

std::string formatMs(double value) {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f ms", value);
    return text;
}

}  // namespace
}  // namespace larkspin::bench

int main(int argc, char** argv) {
    using namespace larkspin;
    using namespace larkspin::bench;
    const auto [repeat, only] = readOptions(argc, argv, 3);  // --only: the variants whose name holds it
    const auto dist = startOnDisplay("renderer");
    if (!dist) return 2;
    const auto benchDist = dist->parent_path() / "dist-bench";
    if (!std::filesystem::exists(benchDist / "baseline.html")) {
        std::fprintf(stderr, "%s lacks baseline.html: run scripts/build-renderer.sh\n", benchDist.c_str());
        return 1;
    }

    const std::vector<Document> documents{
        {"100 KiB", generatedDocument(100 * 1024)},
        {"1 MiB", generatedDocument(1024 * 1024)},
        {"5 MiB", generatedDocument(5 * 1024 * 1024)},
    };
    std::vector<Variant> variants;
    for (const auto& document : documents) {
        variants.push_back({"renderer", document.label, &document, true});
        variants.push_back({"renderer", document.label + " plain", &document, false});
        variants.push_back({"baseline", document.label, &document, false});
        variants.push_back({"full", document.label, &document, true});
    }
    std::erase_if(variants, [&](const Variant& v) { return (v.page + " " + v.label).find(only) == std::string::npos; });

    test::WebViewHarness harness;
    Bench bench(harness, *dist, benchDist);
    std::map<std::string, std::vector<Sample>> samples;
    for (int round = 0; round < repeat; ++round) {
        for (const auto& variant : variants) {
            std::fprintf(stderr, "round %d/%d: %s %s\n", round + 1, repeat, variant.page.c_str(),
                         variant.label.c_str());
            if (auto sample = bench.run(variant)) samples[variant.page + " " + variant.label].push_back(*sample);
        }
    }

    std::printf("\nRendering in a %d×%d WebKitGTK view, medians of %d runs (\"plain\": no highlighting, math or diagrams)\n\n",
                windowWidth, windowHeight, repeat);
    std::printf("%-26s %12s %12s %12s %12s %12s %7s   %s\n", "page / document", "first screen", "reply",
                "complete", "max gap", "(worst)", "frames", "page's own: parse wait, DOM, max gap, frames");
    std::map<std::string, Sample> medians;
    for (const auto& variant : variants) {
        const std::string key = variant.page + " " + variant.label;
        const auto& runs = samples[key];
        if (runs.empty()) {
            std::printf("%-26s failed\n", key.c_str());
            continue;
        }
        const auto pick = [&](auto field) {
            std::vector<double> values;
            for (const auto& run : runs) values.push_back(static_cast<double>(run.*field));
            return median(values);
        };
        Sample m;
        m.firstScreen = pick(&Sample::firstScreen);
        m.reply = pick(&Sample::reply);
        m.complete = pick(&Sample::complete);
        m.maxGap = pick(&Sample::maxGap);
        for (const auto& run : runs) m.worstGap = std::max(m.worstGap, run.maxGap);
        m.frames = static_cast<int>(pick(&Sample::frames));
        m.pageParse = pick(&Sample::pageParse);
        m.pageDom = pick(&Sample::pageDom);
        m.pageGap = pick(&Sample::pageGap);
        m.pageFrames = static_cast<int>(pick(&Sample::pageFrames));
        medians[key] = m;
        std::printf("%-26s %12s %12s %12s %12s %12s %7d", key.c_str(), formatMs(m.firstScreen).c_str(),
                    formatMs(m.reply).c_str(), formatMs(m.complete).c_str(), formatMs(m.maxGap).c_str(),
                    formatMs(m.worstGap).c_str(), m.frames);
        if (variant.page == "renderer") {
            std::printf("   %s, %s, %s, %d", formatMs(m.pageParse).c_str(), formatMs(m.pageDom).c_str(),
                        formatMs(m.pageGap).c_str(), m.pageFrames);
        }
        std::printf("\n");
    }

    const auto goal = [](bool met, const std::string& text) {
        std::printf("  [%s] %s\n", met ? "met" : "MISSED", text.c_str());
    };
    std::printf("\nGoals (ratios within this run)\n");
    const auto ratio = [](double a, double b) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", b > 0 ? a / b : -1.0);
        return std::string(text);
    };
    const auto gapGoal = [&](const std::string& key, double limit) {
        if (!medians.contains(key)) return;
        const Sample& r = medians[key];
        goal(r.worstGap <= limit, key + ": no frame gap over " + formatMs(limit) + " from the request to the last mutation (worst run: " +
                                      formatMs(r.worstGap) + ")");
    };
    gapGoal("renderer 1 MiB", 50);
    gapGoal("renderer 1 MiB plain", 50);
    gapGoal("renderer 5 MiB", 100);
    gapGoal("renderer 5 MiB plain", 100);
    if (medians.contains("renderer 1 MiB") && medians.contains("baseline 1 MiB") && medians.contains("full 1 MiB")) {
        const Sample& r = medians["renderer 1 MiB"];
        const Sample& plain = medians["baseline 1 MiB"];
        const Sample& full = medians["full 1 MiB"];
        goal(r.reply <= plain.complete, "1 MiB: \"rendered\" (" + formatMs(r.reply) + ") no later than the plain baseline's complete render (" +
                                            formatMs(plain.complete) + "): " + ratio(r.reply, plain.complete));
        goal(r.complete <= 0.5 * full.complete, "1 MiB: complete render (" + formatMs(r.complete) + ") within 0.5× the full baseline's (" +
                                                    formatMs(full.complete) + "): " + ratio(r.complete, full.complete));
    }
    for (const char* size : {"1 MiB", "5 MiB"}) {
        const std::string label = size;
        if (!medians.contains("renderer " + label + " plain") || !medians.contains("baseline " + label)) continue;
        const Sample& r = medians["renderer " + label + " plain"];
        const Sample& plain = medians["baseline " + label];
        goal(r.complete <= 0.8 * plain.complete, label + " without enhancements: complete (" + formatMs(r.complete) +
                                                     ") within 0.8× the plain baseline's (" + formatMs(plain.complete) + "): " +
                                                     ratio(r.complete, plain.complete));
    }
    for (const char* size : {"1 MiB", "5 MiB"}) {
        const std::string label = size;
        if (!medians.contains("renderer " + label) || !medians.contains("baseline " + label)) continue;
        const Sample& r = medians["renderer " + label];
        const Sample& plain = medians["baseline " + label];
        goal(r.firstScreen >= 0 && r.firstScreen * 5 <= plain.complete,
             label + ": first screen (" + formatMs(r.firstScreen) + ") at least 5× sooner than the plain baseline's complete render (" +
                 formatMs(plain.complete) + "): " + ratio(r.firstScreen, plain.complete));
    }
    return 0;
}
