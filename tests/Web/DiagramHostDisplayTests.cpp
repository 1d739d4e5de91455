// The diagram render service with its real host (a hidden web view in no
// window) and the real host page (renderer/dist) under Xvfb. (What the host
// draws, inside the reading page, is tested with that page in
// tests/Renderer.) The hanging page is the
// real one with a wrapper appended to its script: a source holding
// "%% hang" spins for ever inside the web process, as a runaway layout would.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "Platform/Log.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Protocol/Diagrams/DiagramRenderService.hpp"
#include "Protocol/Schemes/RendererDirectory.hpp"
#include "Support/Display/RendererPage.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"
#include "Web/DiagramHostWebView.hpp"
#include "Web/DiagramRenderServices.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr const char* hangWrapper = R"(
;(() => {
    const real = window.OrvikDiagramHost;
    window.OrvikDiagramHost = { handleMessage(message) {
        if (String(message && message.payload && message.payload.source).includes('%% hang')) {
            for (;;) {}
        }
        return real.handleMessage(message);
    } };
})();
)";

constexpr const char* flowchart = "flowchart LR\n  Start[Open file] --> Check{Readable?}\n"
                                  "  Check -->|yes| Show[Render]\n  Check -->|no| Notice[Notice bar]\n";
constexpr const char* sequence = "sequenceDiagram\n  participant Alice\n  participant Bob\n"
                                 "  Alice->>Bob: Hello Bob\n  Bob-->>Alice: Hi Alice\n";
// A diagram that asks for HTML labels (drawn in foreignObject, which the
// reading page removes) and puts a remote image in one.
constexpr const char* htmlLabelsAsked =
    "%%{init: {\"htmlLabels\": true, \"flowchart\": {\"htmlLabels\": true}}}%%\n"
    "flowchart LR\n  A[\"First label <img src='https://example.invalid/x.png'>\"] --> B[Second label]\n";
constexpr const char* gantt = "gantt\n  title Release\n  dateFormat YYYY-MM-DD\n  section Build\n"
                              "  Design :a1, 2024-01-01, 10d\n  Code   :after a1, 20d\n";

class DiagramHostDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        appResources = AppResourceSchemeHandler::createForRenderer(std::make_shared<PooledResourceWorkers>("test", 1));
        ASSERT_TRUE(appResources) << "the renderer page is not built: run scripts/build-renderer.sh";
        ASSERT_TRUE(test::waitFor([&] { return appResources->hasManifest(); }));
        ASSERT_TRUE(appResources->manifest().contains("diagram-host.html"));
    }
    void TearDown() override {
        service.reset();
        test::waitFor([] { return MainThread::pendingCount() == 0; }, 5s);
    }

    void makeService(std::shared_ptr<AppResourceSchemeHandler> files,
                     DiagramRenderService::Configuration configuration = {}) {
        service = DiagramRenderServices::make(harness.context(), std::move(files), configuration);
    }

    // Renders and waits for the result (the service always answers; the
    // bound only turns a hang into a failure).
    DiagramResultPayload render(const std::string& id, const std::string& source,
                                JSONValue themeVariables = JSONValue()) {
        std::optional<DiagramResultPayload> result;
        service->enqueue({id, source, std::move(themeVariables)}, {},
                         [&result](DiagramResultPayload r) { result = std::move(r); });
        EXPECT_TRUE(test::waitFor([&] { return result.has_value(); }));
        return result.value_or(DiagramResultPayload::failure(id, "test", "no result"));
    }

    // A copy of the built page whose host script hangs on "%% hang".
    std::shared_ptr<AppResourceSchemeHandler> hangingPage() {
        const auto dist = RendererDirectory::locate();
        std::filesystem::copy(*dist, dir.path() / "dist", std::filesystem::copy_options::recursive);
        std::ofstream(dir.path() / "dist" / "diagram-host.js", std::ios::app) << hangWrapper;
        return AppResourceSchemeHandler::create(dir.path() / "dist", std::make_shared<PooledResourceWorkers>("test", 1));
    }

    test::LogCapture logs;
    test::WebViewHarness harness;
    test::TempDir dir;
    std::shared_ptr<AppResourceSchemeHandler> appResources;
    std::shared_ptr<DiagramRenderService> service;
};

TEST_F(DiagramHostDisplayTest, RendersDiagramsToSVGAndSyntaxErrorsAsPageErrorsOnOneHost) {
    makeService(appResources);
    const std::map<std::string, std::pair<const char*, std::vector<std::string>>> diagrams = {
        {"D1-1", {flowchart, {"Open", "file", "Readable?", "Notice"}}},
        {"D1-2", {sequence, {"Alice", "Hello", "Bob"}}},
        {"D1-3", {gantt, {"Design", "Code"}}},
        {"D1-7", {htmlLabelsAsked, {"First", "Second", "label"}}},
    };
    for (const auto& [id, diagram] : diagrams) {
        SCOPED_TRACE(id);
        const auto result = render(id, diagram.first);
        ASSERT_TRUE(result.svg) << (result.error ? result.error->code + " " + result.error->message : "");
        const std::string& svg = *result.svg;
        EXPECT_TRUE(std::regex_search(svg, std::regex("^<svg[^>]* id=\"orvik-diagram-" + id + "-[0-9a-z]+\"")))
            << svg.substr(0, 300);
        for (const auto& label : diagram.second) EXPECT_NE(svg.find(label), std::string::npos) << label;
        EXPECT_EQ(svg.find("foreignObject"), std::string::npos) << "labels must be SVG text";
        EXPECT_EQ(svg.find("<img"), std::string::npos);
        EXPECT_EQ(svg.find("NaN"), std::string::npos) << "a layout without a width";
    }
    // Errors of the diagram are not failures of the host: it stays.
    const auto broken = render("D1-4", "flowchart LR\n  A --> --> <b>B\n");
    ASSERT_TRUE(broken.error);
    EXPECT_EQ(broken.error->code, "parse");
    EXPECT_FALSE(broken.error->message.empty());
    EXPECT_EQ(render("D1-5", " \n").error->code, "empty");
    EXPECT_EQ(render("D1-6", "notADiagramType\n  x").error->code, "parse");
    EXPECT_EQ(service->stats(), (DiagramRenderService::Stats{.hostsCreated = 1, .rendered = 4, .failed = 3}));
    EXPECT_TRUE(logs.contains("diagrams", "独立渲染宿主 ready"));
}

TEST_F(DiagramHostDisplayTest, HangingPageIsCutAtTheTimeOutAndTheNextRequestGetsANewHost) {
    // The reader's page in the same web context must not share the host's fate.
    test::RendererPage reader(harness.context(), appResources, nullptr);
    ASSERT_FALSE(reader.load().failed);
    ASSERT_TRUE(reader.waitForEvent("ready"));
    bool readerCrashed = false;
    g_signal_connect(reader.view(), "web-process-terminated",
                     G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, gpointer flag) {
                         *static_cast<bool*>(flag) = true;
                     }),
                     &readerCrashed);

    makeService(hangingPage(), {.timeout = 6000ms});
    ASSERT_TRUE(render("D1-1", flowchart).svg);
    const auto hung = render("D1-2", "flowchart LR\n  %% hang\n  A --> B\n");
    EXPECT_EQ(hung, DiagramResultPayload::failure("D1-2", "timeout", "独立渲染超过 6 s，已终止渲染进程"));
    EXPECT_TRUE(logs.contains("diagrams", "销毁独立渲染 WebView（timeout）"));
    EXPECT_FALSE(logs.contains("diagrams", "Web 内容进程终止")) << "our own termination is not reported";

    const auto next = render("D1-3", sequence);
    EXPECT_TRUE(next.svg) << (next.error ? next.error->message : "");
    EXPECT_EQ(service->stats(),
              (DiagramRenderService::Stats{.hostsCreated = 2, .destroyedForTimeout = 1, .rendered = 2, .failed = 1}));

    const json probe = reader.request("probe");
    EXPECT_EQ(probe.value("type", ""), "capabilities") << probe.dump();
    EXPECT_FALSE(readerCrashed);
    g_signal_handlers_disconnect_by_data(reader.view(), &readerCrashed);
}

}  // namespace
}  // namespace larkspin
