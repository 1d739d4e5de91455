// The diagram render service with its real host (a hidden WebKitGTK web
// view in no window) and the real host page (renderer/dist) under Xvfb:
// diagrams of three kinds come out as SVG, a syntax error as "parse", a page
// stuck in a layout is cut at the time-out (its web process ended, the
// reader's page beside it untouched) and the next request gets a new host;
// and what the host draws stays inert and keeps its own style once the
// reading page has inserted it.
//
// The hanging page is the real one with a wrapper appended to its script
// (a copy of dist in a temporary folder): a request whose source holds
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
#include "Protocol/AppResourceSchemeHandler.hpp"
#include "Protocol/Diagrams/DiagramRenderService.hpp"
#include "Protocol/RendererDirectory.hpp"
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
constexpr const char* gantt = "gantt\n  title Release\n  dateFormat YYYY-MM-DD\n  section Build\n"
                              "  Design :a1, 2024-01-01, 10d\n  Code   :after a1, 20d\n";

class DiagramHostDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        appResources = AppResourceSchemeHandler::createForRenderer();
        ASSERT_TRUE(appResources) << "the renderer page is not built: run scripts/build-renderer.sh";
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
        return AppResourceSchemeHandler::create(dir.path() / "dist");
    }

    test::LogCapture logs;
    test::WebViewHarness harness;
    test::TempDir dir;
    std::shared_ptr<AppResourceSchemeHandler> appResources;
    std::shared_ptr<DiagramRenderService> service;
};

TEST_F(DiagramHostDisplayTest, RendersFlowchartSequenceAndGanttToSVGOnOneHost) {
    makeService(appResources);
    const std::map<std::string, std::pair<const char*, std::vector<std::string>>> diagrams = {
        {"D1-1", {flowchart, {"Open", "file", "Readable?", "Notice"}}},
        {"D1-2", {sequence, {"Alice", "Hello", "Bob"}}},
        {"D1-3", {gantt, {"Design", "Code"}}},
    };
    for (const auto& [id, diagram] : diagrams) {
        SCOPED_TRACE(id);
        const auto result = render(id, diagram.first);
        ASSERT_TRUE(result.svg) << (result.error ? result.error->code + " " + result.error->message : "");
        EXPECT_FALSE(result.error);
        EXPECT_EQ(result.diagramID, id);
        const std::string& svg = *result.svg;
        EXPECT_TRUE(svg.starts_with("<svg")) << svg.substr(0, 200);
        EXPECT_TRUE(std::regex_search(svg, std::regex("^<svg[^>]* id=\"orvik-diagram-" + id + "-[0-9a-z]+\"")))
            << svg.substr(0, 300);
        for (const auto& label : diagram.second) EXPECT_NE(svg.find(label), std::string::npos) << label;
        EXPECT_EQ(svg.find("foreignObject"), std::string::npos) << "labels must be SVG text";
        EXPECT_EQ(svg.find("NaN"), std::string::npos) << "a layout without a width";
    }
    EXPECT_EQ(service->stats(), (DiagramRenderService::Stats{.hostsCreated = 1, .rendered = 3}));
    EXPECT_TRUE(logs.contains("diagrams", "独立渲染宿主 ready"));
}

TEST_F(DiagramHostDisplayTest, SyntaxErrorsAndEmptyDiagramsComeBackAsPageErrors) {
    makeService(appResources);
    const auto broken = render("D1-1", "flowchart LR\n  A --> --> <b>B\n");
    ASSERT_TRUE(broken.error);
    EXPECT_EQ(broken.error->code, "parse");
    EXPECT_FALSE(broken.error->message.empty());
    EXPECT_FALSE(broken.svg);
    EXPECT_EQ(render("D1-2", " \n").error->code, "empty");
    EXPECT_EQ(render("D1-3", "notADiagramType\n  x").error->code, "parse");
    // The host stays: errors of the diagram are not failures of the host.
    EXPECT_TRUE(render("D1-4", flowchart).svg);
    EXPECT_EQ(service->stats(), (DiagramRenderService::Stats{.hostsCreated = 1, .rendered = 1, .failed = 3}));
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

    const auto next = render("D1-3", sequence);
    EXPECT_TRUE(next.svg) << (next.error ? next.error->message : "");
    EXPECT_EQ(service->stats(),
              (DiagramRenderService::Stats{.hostsCreated = 2, .destroyedForTimeout = 1, .rendered = 2, .failed = 1}));

    const json probe = reader.request("probe");
    EXPECT_EQ(probe.value("type", ""), "capabilities") << probe.dump();
    EXPECT_FALSE(readerCrashed);
    g_signal_handlers_disconnect_by_data(reader.view(), &readerCrashed);
}

TEST_F(DiagramHostDisplayTest, DestroyEndsTheWebProcessAndRefusesLaterRenders) {
    auto host = DiagramHostWebView::create(harness.context(), appResources);
    std::optional<std::exception_ptr> loaded;
    host->load([&loaded](std::exception_ptr error) { loaded = error; });
    ASSERT_TRUE(test::waitFor([&] { return loaded.has_value(); }));
    ASSERT_FALSE(*loaded);

    GObjectPtr<WebKitWebView> view = GObjectPtr<WebKitWebView>::retain(host->webView());
    bool terminated = false;
    g_signal_connect(view.get(), "web-process-terminated",
                     G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer flag) {
                         *static_cast<bool*>(flag) = reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API;
                     }),
                     &terminated);
    logs.clear();
    host->destroy();
    EXPECT_TRUE(test::waitFor([&] { return terminated; }));
    EXPECT_FALSE(logs.contains("diagrams", "Web 内容进程终止")) << "our own termination is not reported";
    EXPECT_FALSE(host->webView());

    std::optional<DiagramHostDriving::RenderOutcome> outcome;
    host->render({"D1-1", flowchart, JSONValue(), 8000},
                 [&outcome](DiagramHostDriving::RenderOutcome o) { outcome = std::move(o); });
    ASSERT_TRUE(test::waitFor([&] { return outcome.has_value(); }));
    ASSERT_TRUE(outcome->error);
    try {
        std::rethrow_exception(outcome->error);
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "宿主页尚未加载");
    }
    g_signal_handlers_disconnect_by_data(view.get(), &terminated);
}

// What the host draws goes into the reading page as the reader would hand
// it over, and is exercised there: nothing of it runs, links to scripts are
// gone, and each diagram keeps its own style.
class DiagramInReadingPageTest : public DiagramHostDisplayTest {
protected:
    void SetUp() override {
        DiagramHostDisplayTest::SetUp();
        makeService(appResources);
        page = std::make_unique<test::RendererPage>(harness.context(), appResources, nullptr);
        page->addStartScript(R"((() => {
            const writes = [];
            Object.defineProperty(window, '__pwned', { configurable: false,
                get() { return undefined; }, set(value) { writes.push(String(value)); } });
            Object.defineProperty(window, '__trap', { configurable: false, value: { writes } });
        })();)");
        harness.show(page->view());
        ASSERT_FALSE(page->load().failed);
        ASSERT_TRUE(page->waitForEvent("ready"));
    }
    void TearDown() override {
        page.reset();
        DiagramHostDisplayTest::TearDown();
    }

    // Renders `sources` as mermaid fences and answers each request with the
    // host's result for it (with the given theme variables); returns the ids.
    std::vector<std::string> showDiagrams(const std::vector<std::string>& sources,
                                          const std::vector<JSONValue>& themes) {
        std::string markdown = "# Diagrams\n\n";
        for (const auto& source : sources) markdown += "```mermaid\n" + source + "```\n\n";
        const std::size_t before = page->messages().size();
        const json rendered = page->request("render", {{"source", markdown}, {"language", "en"}});
        EXPECT_EQ(rendered.value("type", ""), "rendered") << rendered.dump().substr(0, 500);
        std::vector<std::string> ids;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const auto request = page->waitForMessage(
                [&](const json& m) {
                    return m.value("type", "") == "diagramRequest" &&
                           std::find(ids.begin(), ids.end(), m["payload"].value("diagramID", "")) == ids.end();
                },
                before);
            EXPECT_TRUE(request);
            if (!request) return ids;
            const std::string id = (*request)["payload"]["diagramID"];
            ids.push_back(id);
            const auto result = render(id, (*request)["payload"]["source"], themes.at(i));
            EXPECT_TRUE(result.svg) << (result.error ? result.error->message : "");
            json payload = {{"diagramID", id}};
            if (result.svg) payload["svg"] = *result.svg;
            const json applied = page->request("diagramResult", payload);
            EXPECT_EQ(applied["payload"], json({{"diagramID", id}, {"accepted", true}}));
        }
        return ids;
    }

    std::unique_ptr<test::RendererPage> page;
};

TEST_F(DiagramInReadingPageTest, MarkupAndScriptLinksInLabelsStayInert) {
    const std::vector<std::string> sources = {
        "flowchart TD\n"
        "  A[\"<img src=x onerror=window.__pwned='img'> <b onclick=window.__pwned='b'>bold</b>\"]\n"
        "  B[\"<a href='javascript:window.__pwned=1'>link</a>\"]\n"
        "  C[\"<script>window.__pwned='script'</script>\"]\n"
        "  A --> B --> C\n"
        "  click A \"javascript:window.__pwned='click'\"\n"
        "  click B call alert()\n",
        "sequenceDiagram\n  Alice->>Bob: <img src=x onerror=\"window.__pwned='seq'\">\n"
        "  link Alice: Evil @ javascript:window.__pwned='menu'\n",
    };
    const auto ids = showDiagrams(sources, {JSONValue(), JSONValue()});
    ASSERT_EQ(ids.size(), 2u);
    const json report = page->script(R"(
        const problems = [];
        const hosts = Array.from(document.querySelectorAll('[data-diagram]'));
        const elements = hosts.flatMap((h) => h.shadowRoot ? Array.from(h.shadowRoot.querySelectorAll('*')) : []);
        for (const e of elements) {
            for (const name of e.getAttributeNames()) {
                const value = e.getAttribute(name).replace(/[\u0000-\u0020]/g, '');
                if (name.toLowerCase().startsWith('on')) problems.push(`handler ${name} on ${e.localName}`);
                if (/^(?:javascript|vbscript|data):/i.test(value)) problems.push(`${name}=${value} on ${e.localName}`);
            }
            if (['script', 'foreignobject', 'iframe', 'img', 'use', 'image'].includes(e.localName.toLowerCase())) {
                problems.push(`element ${e.localName}`);
            }
            for (const type of ['mouseover', 'mousedown', 'mouseup', 'click', 'dblclick', 'focus']) {
                e.dispatchEvent(new MouseEvent(type, { bubbles: true, cancelable: true, composed: true }));
            }
            if (typeof e.click === 'function') e.click();
        }
        await new Promise((done) => setTimeout(done, 0));
        return {
            shown: hosts.filter((h) => h.getAttribute('data-state') === 'done' && h.shadowRoot?.querySelector('svg')).length,
            elements: elements.length,
            text: hosts.map((h) => h.shadowRoot?.textContent ?? '').join(' '),
            problems,
            writes: window.__trap.writes,
            location: location.href,
        };
    )");
    EXPECT_EQ(report.value("shown", 0), 2) << report.dump();
    EXPECT_GT(report.value("elements", 0), 10);
    EXPECT_EQ(report["problems"], json::array()) << report.dump();
    EXPECT_EQ(report["writes"], json::array()) << report.dump();
    EXPECT_EQ(report.value("location", ""), AppResourceSchemeHandler::entryURL);
    EXPECT_NE(report.value("text", "").find("link"), std::string::npos) << report.dump();
    for (const auto& navigation : page->navigations()) {
        EXPECT_EQ(navigation.uri, AppResourceSchemeHandler::entryURL);
    }
}

TEST_F(DiagramInReadingPageTest, TwoDiagramsInOnePageKeepTheirOwnStyles) {
    const auto theme = [](const char* node, const char* border) {
        return JSONValue::object({{"primaryColor", JSONValue::string(node)},
                                  {"primaryBorderColor", JSONValue::string(border)},
                                  {"darkMode", JSONValue::boolean(false)}});
    };
    const std::string source = "flowchart LR\n  A[One] --> B[Two]\n";
    const auto ids = showDiagrams({source, source}, {theme("#ff0000", "#00ff00"), theme("#0000ff", "#ffff00")});
    ASSERT_EQ(ids.size(), 2u);
    const json styles = page->script(R"(
        return Array.from(document.querySelectorAll('[data-diagram]'), (host) => {
            const svg = host.shadowRoot?.querySelector('svg');
            const shape = svg?.querySelector('.node rect, .node polygon, .node path');
            return {
                id: svg?.id ?? '',
                fill: shape ? getComputedStyle(shape).fill : '',
                stroke: shape ? getComputedStyle(shape).stroke : '',
            };
        });
    )");
    ASSERT_TRUE(styles.is_array() && styles.size() == 2) << styles.dump();
    EXPECT_NE(styles[0]["id"], styles[1]["id"]);
    EXPECT_EQ(styles[0].value("fill", ""), "rgb(255, 0, 0)") << styles.dump();
    EXPECT_EQ(styles[1].value("fill", ""), "rgb(0, 0, 255)") << styles.dump();
    // Paint servers (gradients, markers) are the diagram's own.
    for (const auto& style : styles) {
        const std::string stroke = style.value("stroke", "");
        if (stroke.starts_with("url(")) {
            EXPECT_NE(stroke.find(style.value("id", "?")), std::string::npos) << styles.dump();
        }
    }
}

}  // namespace
}  // namespace larkspin
