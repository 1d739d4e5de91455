// How soon a document's reader shows its first screen, against the floor of
// WebKitGTK itself. Run by hand under Xvfb, from a build with benchmarks:
//
//   export GDK_BACKEND=x11 GDK_DEBUG=gl-disable LIBGL_ALWAYS_SOFTWARE=1
//   xvfb-run -a -s "-screen 0 1280x1024x24" <build>/bench/reader/larkspin_reader_bench
//
// Options: --repeat N (runs of each measurement, 5 unless told), --only TEXT
// (only the documents whose label holds TEXT, such as "1 MiB").
//
// For documents of 100 KiB and 1 MiB (GeneratedDocument.hpp), each run:
// - reader: a cold reader (a web context of its own, so a new web process
//   and nothing prewarmed) in a shown 1024×768 window. The clock starts just
//   before the controller is created; it loads the entry page, completes
//   the handshake and renders the text as the program does.
//     first screen  until the end of the first frame whose rendering shows
//                   content down to the bottom of the window (checked in a
//                   task queued from each animation frame, after its paint);
//     rendered      until the "rendered" reply reached the controller.
// - floor: a minimal WebKitGTK program: a plain web view in a context of its
//   own loads one static HTML page holding the same rendered content (the
//   reader's own output of the previous run, with the page's style sheet
//   inlined and no script), timed from creating the view to the same first
//   screen.
// Both run in the same process, alternating. Figures are medians.

#include <adwaita.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "BenchReaderOwner.hpp"
#include "FirstScreen.hpp"
#include "GeneratedDocument.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Schemes/RendererDirectory.hpp"
#include "App/ApplicationServices.hpp"
#include "BenchPreferences.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/Widgets/ReaderWebViewFactory.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "BenchSetup.hpp"

namespace larkspin::bench {
namespace {

using nlohmann::json;

struct ReaderSample {
    double firstScreen = -1;
    double rendered = -1;
    double ready = -1;       // from the start to the page's "ready"
    double renderSent = -1;  // from the start to the render request
    std::string html;        // the rendered page, for the floor
};

std::optional<ReaderSample> runReader(const std::string& text) {
    WebKitWebContext* context = webkit_web_context_new();
    std::optional<ReaderSample> result;
    {
        bench::BenchPreferences preferences;
        ApplicationServices services(preferences.defaults(), preferences.notifications(), {context, false});
        services.webViewFactory().addStartScript(firstScreenProbe);
        auto view = std::make_shared<ReaderView>(services.webViewFactory());
        GtkWindow* window = presentWindow(view->widget());
        bool rendered = false;
        ReaderSample sample;

        const double start = nowMs();
        const auto steadyStart = Clock::system().now();
        ReaderViewController::Dependencies dependencies;
        dependencies.host = view;
        dependencies.environment = services.readerEnvironment();
        const auto owner = std::make_shared<BenchReaderOwner>();
        owner->onRendered = [&] {
            if (!rendered) sample.rendered = nowMs() - start;
            rendered = true;
        };
        dependencies.owner = owner;
        auto reader = ReaderViewController::create("BENCH", std::move(dependencies));
        owner->reader = reader;
        reader->loadView();
        reader->render(text);

        const auto since = [&](const FirstScreenMarks::Instant& mark) {
            return mark ? std::chrono::duration<double, std::milli>(*mark - steadyStart).count() : -1.0;
        };
        if (test::waitFor([&] { return rendered; }, std::chrono::minutes(3))) {
            if (const auto stamp = firstScreenOf(view->webView())) {
                sample.firstScreen = *stamp - start;
                sample.ready = since(reader->diagnostics().firstScreenMarks.readyAt);
                sample.renderSent = since(reader->diagnostics().firstScreenMarks.renderSentAt);
                const auto page = test::callScript(
                    view->webView(),
                    "return [document.documentElement.getAttribute('style') || '',"
                    " document.getElementById('content').outerHTML];");
                if (page.ok) {
                    const json parts = json::parse(page.json);
                    sample.html = parts[1].get<std::string>();
                    sample.html.insert(0, "<!--style:" + parts[0].get<std::string>() + "-->");
                    result = sample;
                }
            }
        } else {
            std::fprintf(stderr, "reader: no rendered reply\n");
        }
        gtk_window_destroy(window);
        reader.reset();
        view.reset();
        MainThread::drainForTesting();
    }
    g_object_unref(context);
    return result;
}

// A static page of the reader's rendered content: its root style (the
// theme's properties), the style sheet inlined, no script.
std::string staticPage(const std::string& captured, const std::string& css) {
    const auto end = captured.find("-->");
    const std::string style = captured.substr(10, end - 10);
    const std::string content = captured.substr(end + 3);
    return "<!DOCTYPE html><html style=\"" + style + "\"><head><meta charset=\"utf-8\"><style>" + css +
           "</style></head><body>" + content + "</body></html>";
}

std::optional<double> runFloor(const std::string& html) {
    WebKitWebContext* context = webkit_web_context_new();
    std::optional<double> result;
    {
        const double start = nowMs();
        auto* manager = webkit_user_content_manager_new();
        WebKitUserScript* script =
            webkit_user_script_new(firstScreenProbe, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                   WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(manager, script);
        webkit_user_script_unref(script);
        auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                                  "user-content-manager", manager, nullptr));
        g_object_unref(manager);
        GtkWindow* window = presentWindow(GTK_WIDGET(view));
        webkit_web_view_load_html(view, html.c_str(), "about:blank");
        if (const auto stamp = firstScreenOf(view)) result = *stamp - start;
        gtk_window_destroy(window);
        MainThread::drainForTesting();
    }
    g_object_unref(context);
    return result;
}

}  // namespace
}  // namespace larkspin::bench

int main(int argc, char** argv) {
    using namespace larkspin;
    using namespace larkspin::bench;
    const auto [repeat, only] = readOptions(argc, argv, 5);
    const auto dist = startOnDisplay("reader");
    if (!dist) return 2;
    std::ifstream cssFile(*dist / "renderer.css");
    std::stringstream css;
    css << cssFile.rdbuf();

    test::WebViewHarness harness;  // turns WebKit's sandbox off only where it cannot start
    struct Row {
        std::string label;
        std::vector<double> firstScreen, rendered, ready, renderSent, floor;
    };
    std::vector<Row> rows;
    for (const auto& [label, bytes] : {std::pair{"100 KiB", 100 * 1024}, std::pair{"1 MiB", 1024 * 1024}}) {
        if (std::string(label).find(only) == std::string::npos) continue;
        Row row{label};
        const std::string text = generatedDocument(static_cast<std::size_t>(bytes));
        // One reader run first, not counted: its output is the floor's page.
        std::optional<ReaderSample> last = runReader(text);
        if (!last) return 1;
        for (int round = 0; round < repeat; ++round) {
            std::fprintf(stderr, "%s: round %d/%d\n", label, round + 1, repeat);
            if (const auto floor = runFloor(staticPage(last->html, css.str()))) row.floor.push_back(*floor);
            if (auto sample = runReader(text)) {
                row.firstScreen.push_back(sample->firstScreen);
                row.rendered.push_back(sample->rendered);
                row.ready.push_back(sample->ready);
                row.renderSent.push_back(sample->renderSent);
                last = std::move(sample);
            }
        }
        rows.push_back(std::move(row));
    }

    std::printf("\nA cold reader in a %d×%d window against a static page of its output, medians of %d runs\n\n",
                windowWidth, windowHeight, repeat);
    std::printf("%-9s %14s %10s %12s %14s %12s %8s\n", "document", "first screen", "rendered",
                "(ready at", "render sent)", "floor", "ratio");
    for (const auto& row : rows) {
        const double first = median(row.firstScreen);
        const double floor = median(row.floor);
        std::printf("%-9s %14s %10s %12s %14s %12s %7.2f×\n", row.label.c_str(), formatMs(first).c_str(),
                    formatMs(median(row.rendered)).c_str(), formatMs(median(row.ready)).c_str(),
                    formatMs(median(row.renderSent)).c_str(), formatMs(floor).c_str(),
                    floor > 0 ? first / floor : 0.0);
    }
    std::printf("\nGoal\n");
    for (const auto& row : rows) {
        const double first = median(row.firstScreen);
        const double floor = median(row.floor);
        std::printf("  [%s] %s: first screen of a cold reader (%s) within 1.2× the floor's (%s)\n",
                    first > 0 && floor > 0 && first <= 1.2 * floor ? "met" : "MISSED", row.label.c_str(),
                    formatMs(first).c_str(), formatMs(floor).c_str());
    }
    return 0;
}
