// How long diagrams take through the diagram render service with its real
// host (a hidden WebKitGTK web view) and the real host page. Run by hand
// under Xvfb, from a build with benchmarks:
//
//   export GDK_BACKEND=x11 GDK_DEBUG=gl-disable LIBGL_ALWAYS_SOFTWARE=1
//   xvfb-run -a -s "-screen 0 1280x1024x24" <build>/bench/diagrams/larkspin_diagram_bench
//
// Options: --repeat N (documents rendered, each by a fresh service and so a
// fresh host; 5 unless told).
//
// Each run queues the 20 diagrams of one document at once (8 kinds, mixed,
// as the reader does when a page asks for them) and records:
//   first diagram  from queueing to the first result, host creation and the
//                  host page's load (mermaid included) counted in;
//   per diagram    the time between consecutive results after the first;
//   total          from queueing to the last result.
// Figures are medians over the runs; per-diagram times also by kind (median
// and worst over all runs).

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Web/DiagramRenderServices.hpp"
#include "BenchSetup.hpp"

namespace larkspin::bench {
namespace {

using Wall = std::chrono::steady_clock;

struct Diagram {
    const char* kind;
    std::string source;
};

std::vector<Diagram> mixedDocument() {
    const std::vector<Diagram> kinds = {
        {"flowchart", "flowchart TD\n  A[Open] --> B{Readable?}\n  B -->|yes| C[Render]\n  B -->|no| D[Notice]\n"
                      "  C --> E[Outline]\n  C --> F[Find]\n  D --> G[Retry]\n  G --> B\n"},
        {"sequence", "sequenceDiagram\n  participant R as Reader\n  participant S as Service\n  participant H as Host\n"
                     "  R->>S: diagramRequest\n  S->>H: renderDiagram\n  H-->>S: diagramRendered\n  S-->>R: result\n"},
        {"gantt", "gantt\n  title Release\n  dateFormat YYYY-MM-DD\n  section Build\n  Design :a1, 2024-01-01, 10d\n"
                  "  Code :a2, after a1, 20d\n  section Ship\n  Test :after a2, 7d\n  Release :milestone, 2024-02-20, 0d\n"},
        {"class", "classDiagram\n  class Document {\n    +String text\n    +save()\n  }\n  class Reader\n"
                  "  Document <|-- Draft\n  Reader --> Document\n"},
        {"state", "stateDiagram-v2\n  [*] --> Clean\n  Clean --> Dirty: edit\n  Dirty --> Clean: save\n  Dirty --> Conflict: changed on disk\n"
                  "  Conflict --> Clean: reload\n"},
        {"pie", "pie title Files\n  \"Markdown\" : 70\n  \"Images\" : 20\n  \"Other\" : 10\n"},
        {"er", "erDiagram\n  DOCUMENT ||--o{ DRAFT : keeps\n  DOCUMENT ||--|{ HEADING : has\n"},
        {"journey", "journey\n  title Reading\n  section Open\n    Find file: 4: Me\n    Read: 5: Me\n"},
    };
    std::vector<Diagram> document;
    for (int i = 0; i < 20; ++i) {
        Diagram diagram = kinds[static_cast<std::size_t>(i) % kinds.size()];
        diagram.source += "%% " + std::to_string(i) + "\n";  // no two alike
        document.push_back(diagram);
    }
    return document;
}

double ms(Wall::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace
}  // namespace larkspin::bench

int main(int argc, char** argv) {
    using namespace larkspin;
    using namespace larkspin::bench;
    const int repeat = readOptions(argc, argv, 5).repeat;
    MainThread::initialize();
    if (!gtk_init_check()) {
        std::fprintf(stderr, "the diagram benchmark needs a display: run it under xvfb-run\n");
        return 2;
    }
    AppLog::setCaptureHook([](const LogRecord&) {});
    auto appResources = AppResourceSchemeHandler::createForRenderer(std::make_shared<PooledResourceWorkers>("bench", 1));
    while (appResources && !appResources->hasManifest()) g_main_context_iteration(nullptr, TRUE);
    if (!appResources || !appResources->manifest().contains("diagram-host.html")) {
        std::fprintf(stderr, "renderer/dist with the diagram host not found: run scripts/build-renderer.sh\n");
        return 1;
    }
    test::WebViewHarness harness;
    const auto document = mixedDocument();

    std::vector<double> firsts, perDiagram, totals;
    std::map<std::string, std::vector<double>> byKind;
    int failures = 0;
    for (int run = 0; run < repeat; ++run) {
        auto service = DiagramRenderServices::make(harness.context(), appResources);
        std::vector<Wall::time_point> done(document.size());
        std::size_t finished = 0;
        const auto start = Wall::now();
        for (std::size_t i = 0; i < document.size(); ++i) {
            service->enqueue({"D1-" + std::to_string(i + 1), document[i].source, JSONValue()}, {},
                             [&, i](DiagramResultPayload result) {
                                 if (!result.svg) {
                                     ++failures;
                                     std::fprintf(stderr, "%s failed: %s\n", document[i].kind,
                                                  result.error ? result.error->message.c_str() : "?");
                                 }
                                 done[i] = Wall::now();
                                 ++finished;
                             });
        }
        if (!test::waitFor([&] { return finished == document.size(); }, std::chrono::seconds(300))) {
            std::fprintf(stderr, "run %d did not finish\n", run + 1);
            return 1;
        }
        firsts.push_back(ms(done[0] - start));
        totals.push_back(ms(done.back() - start));
        for (std::size_t i = 1; i < done.size(); ++i) {
            perDiagram.push_back(ms(done[i] - done[i - 1]));
            byKind[document[i].kind].push_back(ms(done[i] - done[i - 1]));
        }
        service.reset();
        test::waitFor([] { return MainThread::pendingCount() == 0; }, std::chrono::seconds(5));
    }
    std::printf("diagram render service, 20 mixed diagrams, %d runs (medians)\n", repeat);
    std::printf("  first diagram (host created and loaded): %8.1f ms\n", median(firsts));
    std::printf("  per diagram after the first:             %8.1f ms (worst %.1f)\n", median(perDiagram),
                *std::max_element(perDiagram.begin(), perDiagram.end()));
    std::printf("  all 20:                                  %8.1f ms\n", median(totals));
    for (const auto& [kind, values] : byKind) {
        std::printf("    %-10s %8.1f ms (worst %.1f)\n", kind.c_str(), median(values),
                    *std::max_element(values.begin(), values.end()));
    }
    if (failures) std::printf("  %d renders failed\n", failures);
    return failures ? 1 : 0;
}
