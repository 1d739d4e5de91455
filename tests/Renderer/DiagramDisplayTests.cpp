// What the diagram host draws goes into the reading page as the reader
// hands it over, and is exercised there: nothing of it runs, links to
// scripts are gone, and each diagram keeps its own style.

#include "Protocol/Diagrams/DiagramRenderService.hpp"
#include "Renderer/RendererPageTest.hpp"
#include "Web/DiagramRenderServices.hpp"

namespace larkspin::test {
namespace {

class DiagramInReadingPageTest : public RendererPageTest {
protected:
    void SetUp() override {
        RendererPageTest::SetUp();
        if (HasFatalFailure()) return;
        page->addStartScript(trap);
        service = DiagramRenderServices::make(harness.context(), appResources, {});
        loadPage();
    }
    void TearDown() override {
        service.reset();
        RendererPageTest::TearDown();
    }

    // Renders `sources` as mermaid fences and answers each request, in the
    // order asked, with the host's result drawn with the next theme.
    std::vector<std::string> showDiagrams(const std::vector<std::string>& sources,
                                          const std::vector<JSONValue>& themes) {
        std::string markdown = "# Diagrams\n\n";
        for (const auto& source : sources) markdown += "```mermaid\n" + source + "```\n\n";
        const std::size_t before = page->messages().size();
        EXPECT_EQ(render(markdown).value("type", ""), "rendered");
        std::vector<std::string> ids;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const auto request = page->waitForMessage(
                [&](const json& m) {
                    return m.value("type", "") == "diagramRequest" &&
                           std::ranges::find(ids, m["payload"].value("diagramID", "")) == ids.end();
                },
                before);
            if (!request) return ids;
            const std::string id = (*request)["payload"]["diagramID"];
            ids.push_back(id);
            std::optional<DiagramResultPayload> result;
            service->enqueue({id, (*request)["payload"]["source"], themes.at(i)}, {},
                             [&result](DiagramResultPayload r) { result = std::move(r); });
            EXPECT_TRUE(waitFor([&] { return result.has_value(); }));
            EXPECT_TRUE(result && result->svg) << (result && result->error ? result->error->message : "");
            json payload = {{"diagramID", id}};
            if (result && result->svg) payload["svg"] = *result->svg;
            EXPECT_EQ(page->request("diagramResult", payload)["payload"],
                      json({{"diagramID", id}, {"accepted", true}}));
        }
        return ids;
    }

    std::shared_ptr<DiagramRenderService> service;
};

TEST_F(DiagramInReadingPageTest, LabelsStayInertAndEachDiagramKeepsItsOwnStyle) {
    const auto theme = [](const char* node, const char* border) {
        return JSONValue::object({{"primaryColor", JSONValue::string(node)},
                                  {"primaryBorderColor", JSONValue::string(border)},
                                  {"darkMode", JSONValue::boolean(false)}});
    };
    const std::string plain = "flowchart LR\n  A[One] --> B[Two]\n";
    const std::vector<std::string> sources = {
        plain,
        plain,
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
    const auto ids = showDiagrams(
        sources, {theme("#ff0000", "#00ff00"), theme("#0000ff", "#ffff00"), JSONValue(), JSONValue()});
    ASSERT_EQ(ids.size(), 4u);
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
            text: hosts.map((h) => h.shadowRoot?.textContent ?? '').join(' '),
            problems,
            writes: window.__trap.writes,
            location: location.href,
            styles: hosts.slice(0, 2).map((host) => {
                const svg = host.shadowRoot?.querySelector('svg');
                const shape = svg?.querySelector('.node rect, .node polygon, .node path');
                return { id: svg?.id ?? '', fill: shape ? getComputedStyle(shape).fill : '',
                         stroke: shape ? getComputedStyle(shape).stroke : '' };
            }),
        };
    )");
    EXPECT_EQ(report.value("shown", 0), 4) << report.dump();
    EXPECT_EQ(report["problems"], json::array()) << report.dump();
    EXPECT_EQ(report["writes"], json::array()) << report.dump();
    EXPECT_EQ(report.value("location", ""), AppResourceSchemeHandler::entryURL);
    EXPECT_NE(report.value("text", "").find("link"), std::string::npos) << report.dump();
    for (const auto& navigation : page->navigations()) EXPECT_EQ(navigation.uri, AppResourceSchemeHandler::entryURL);

    const json& styles = report["styles"];
    ASSERT_EQ(styles.size(), 2u) << report.dump();
    EXPECT_NE(styles[0]["id"], styles[1]["id"]);
    EXPECT_EQ(styles[0].value("fill", ""), "rgb(255, 0, 0)") << styles.dump();
    EXPECT_EQ(styles[1].value("fill", ""), "rgb(0, 0, 255)") << styles.dump();
    // Paint servers (gradients, markers) are the diagram's own.
    for (const auto& style : styles) {
        const std::string stroke = style.value("stroke", "");
        if (stroke.starts_with("url(")) {
            EXPECT_NE(stroke.find(style.value("id", "?")), std::string::npos) << stroke;
        }
    }
}

}  // namespace
}  // namespace larkspin::test
