// The renderer page's side of the message protocol, in a real WebKitGTK web
// view under Xvfb: the built page, its module worker, its content security
// policy, real layout, scrolling and DOM events. The page's logic itself is
// covered by its unit tests in renderer/test; these tests check what only
// the real engine can show.

#include <fmt/format.h>

#include <algorithm>
#include <tuple>

#include "Renderer/RendererPageTest.hpp"

namespace larkspin::test {
namespace {

// Dispatches a mouse event on the element `selector` finds (the `index`th
// match): {prevented, found}. `init` takes type, button, ctrl, meta, alt,
// shift and `inner` (a selector inside the element to dispatch on instead).
constexpr const char* dispatchMouse = R"(
    const how = JSON.parse(init);
    const all = document.querySelectorAll(how.selector);
    let target = all[how.index ?? 0];
    if (!target) return { found: false };
    if (how.inner) target = target.querySelector(how.inner);
    if (how.method === 'click') {
        target.click();
        return { found: true, prevented: null };
    }
    const event = new MouseEvent(how.type ?? 'click', {
        bubbles: true, cancelable: true, composed: true, view: window,
        button: how.button ?? 0, ctrlKey: !!how.ctrl, metaKey: !!how.meta,
        altKey: !!how.alt, shiftKey: !!how.shift,
    });
    return { found: true, prevented: !target.dispatchEvent(event) };
)";

// Where the element `selector` finds sits relative to the viewport.
constexpr const char* elementTop = R"(
    const element = document.querySelector(selector);
    if (!element) return null;
    return { top: element.getBoundingClientRect().top, scrollTop: document.scrollingElement.scrollTop,
             maxScroll: document.scrollingElement.scrollHeight - innerHeight, height: innerHeight };
)";

class RendererProtocolTest : public RendererPageTest {
protected:
    json mouse(json how) { return page->script(dispatchMouse, {{"init", how.dump()}}); }
    json top(const std::string& selector) {
        return page->script(elementTop, {{"selector", selector}});
    }
    // The ids of the blocks in the page, in document order.
    json blockIds() {
        return page->script(
            "return Array.from(document.querySelectorAll('#content > article.md-doc > .md-chunk "
            "> *'), (e) => e.id);");
    }
};

TEST_F(RendererProtocolTest, ReadyComesFirstAndOverlappingRequestsAreEachAnsweredInTurn) {
    loadPage();
    ASSERT_FALSE(page->messages().empty());
    const json ready = page->messages().front();
    expectEnvelope(ready, "ready");
    EXPECT_TRUE(isUpperCaseUUID(ready["messageID"])) << ready.dump();
    EXPECT_EQ(page->script("return Object.isFrozen(window.Orvik) && "
                           "typeof window.Orvik.handleMessage === 'function';"),
              true);

    // What only the engine, the policy and the served files decide.
    json capabilities = page->request("probe");
    expectEnvelope(capabilities, "capabilities");
    EXPECT_EQ(capabilities["payload"].value("userAgent", "").empty(), false);
    capabilities["payload"].erase("userAgent");
    EXPECT_EQ(capabilities["payload"], json({{"isSecureContext", true}, {"cryptoSubtle", true}, {"moduleWorker", true},
                                             {"dynamicImport", true}, {"cspBlockedInlineScript", true}}));

    // Sent at once, answered in the order sent, each by its own message ID.
    json noPayload = page->envelope("clearFind");
    noPayload.erase("payload");
    const std::vector<std::pair<json, std::string>> sent = {
        {page->envelope("setViewportInsets", {{"top", 0}, {"bottom", 0}}), "viewportInsetsApplied"},
        {noPayload, "error"},
        {page->envelope("render", {{"source", "# One\n\ntext\n"}, {"language", "en"}}), "rendered"},
        {page->envelope("bogus"), "error"},
        {page->envelope("captureAnchor"), "anchor"},
    };
    std::vector<std::shared_ptr<ScriptOutcome>> outcomes;
    for (const auto& request : sent) outcomes.push_back(page->send(request.first));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const json reply = RendererPage::reply(outcomes[i]);
        expectEnvelope(reply, sent[i].second);
        EXPECT_EQ(reply["messageID"], sent[i].first["messageID"]);
        EXPECT_EQ(reply["renderGeneration"], i < 2 ? 0 : 1) << reply.dump();
    }
    EXPECT_EQ(page->eventsOf("ready").size(), 1u);
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(RendererProtocolTest, RenderedDescribesTheDocumentAndLinksOnlyReportTheirDestination) {
    dir.write("img/pic.png", whitePng(3, 2));
    loadPage();
    const std::string source =
        "---\r\ntitle: hidden\r\n---\r\n"                                   // 1-3
        "# Title\r\n"                                                         // 4
        "\r\n"                                                                // 5
        "Images ![local](img/pic.png) ![remote](https://images.test/r.png) "  // 6
        "![refused](data:image/png;base64,iVBORw0KGgo=)\r\n"                  //
        "\r\n"                                                                // 7
        "## Title\r\n"                                                        // 8
        "\r\n"                                                                // 9
        "- one\r\n- two\r\n"                                                  // 10-11
        "\r\n"                                                                // 12
        "| a | b |\r\n|---|---|\r\n| 1 | 2 |\r\n"                             // 13-15
        "\r\n"                                                                // 16
        "```js\r\nconst answer = 42;\r\n```\r\n"                              // 17-19
        "\r\n"                                                                // 20
        "$$\r\nE = mc^2\r\n$$\r\n"                                            // 21-23
        "\r\n"                                                                // 24
        "### Ünïcode & `code`\r\n";                                           // 25
    const json request = page->envelope("render", {{"source", source}, {"language", "en"}});
    const json rendered = RendererPage::reply(page->send(request));
    expectEnvelope(rendered, "rendered");
    EXPECT_EQ(rendered["messageID"], request["messageID"]);
    EXPECT_EQ(rendered["renderGeneration"], 1);
    const json& payload = rendered["payload"];
    EXPECT_EQ(payload["renderGeneration"], 1);
    EXPECT_EQ(payload["parserMode"], "worker");  // the real module worker parsed it
    EXPECT_EQ(payload["images"], json({{"local", 1}, {"remote", 1}, {"rejected", 1}}));
    // The blocks are in the page in that order, typeset and highlighted once
    // their highlighting and math have come.
    EXPECT_EQ(blockIds(), json({"title", "B2", "title-1", "B4", "B5", "B6", "B7", "ünïcode--code"}));
    std::vector<std::string> ids;
    for (const auto& block : payload["blocks"]) ids.push_back(block["id"]);
    EXPECT_EQ(blockIds(), json(ids));
    settleEnhancements();
    const json dom = page->script(R"(return {
        articles: document.querySelectorAll('#content > article').length,
        katex: document.querySelectorAll('#B7 .katex-display').length,
        highlighted: document.querySelectorAll('#B6 code.language-js.hljs span').length > 0,
        frontMatter: document.body.textContent.includes('hidden'),
        refused: document.querySelector('#B2 .md-image-rejected')?.textContent,
    };)");
    EXPECT_EQ(dom["articles"], 1);
    EXPECT_EQ(dom["katex"], 1);
    EXPECT_EQ(dom["highlighted"], true);
    EXPECT_EQ(dom["frontMatter"], false);
    EXPECT_EQ(dom["refused"], "refused");

    // The local image came through the document-resource scheme and
    // decoded; the remote one was attempted (and reached only the sink).
    const json image = page->script(R"(
        const img = document.querySelector('#B2 img[src^="document-resource:"]');
        if (!img.complete) await new Promise((done) => {
            img.addEventListener('load', done);
            img.addEventListener('error', done);
        });
        return { src: img.getAttribute('src'), width: img.naturalWidth };)");
    EXPECT_EQ(image["src"], "document-resource://DOC-1/?path=img%2Fpic.png");
    EXPECT_EQ(image["width"], 3);
    EXPECT_TRUE(std::ranges::count(page->documentRequests(),
                                   std::string("document-resource://DOC-1/?path=img%2Fpic.png")));
    EXPECT_TRUE(waitFor([&] {
        return std::ranges::count(sink.requests(), std::string("CONNECT images.test:443 HTTP/1.1"));
    }));

    // A visible page reports its layout and the heading in view.
    const auto layout = page->waitForMessage([](const json& m) {
        return m.value("type", "") == "layoutReport" && m["payload"].value("reason", "") == "render";
    });
    ASSERT_TRUE(layout);
    expectEnvelope(*layout, "layoutReport");
    EXPECT_EQ((*layout)["renderGeneration"], 1);
    EXPECT_TRUE((*layout)["payload"]["overflowingBlocks"].is_array());
    const auto active = page->waitForEvent("activeHeading");
    ASSERT_TRUE(active);
    EXPECT_EQ((*active)["payload"], json({{"id", "title"}, {"index", 0}}));

    // A render replaced by a newer one while it runs is answered
    // "superseded"; only the newer document is shown.
    const auto replaced = page->send(
        page->envelope("render", {{"source", sectionedDocument(600)}, {"language", "en"}}));
    const auto newer =
        page->send(page->envelope("render", {{"source", "# Newer\n\ntext\n"}, {"language", "en"}}));
    const json replacedReply = RendererPage::reply(replaced);
    const json newerReply = RendererPage::reply(newer);
    expectEnvelope(replacedReply, "error");
    EXPECT_EQ(replacedReply["payload"]["code"], "superseded");
    expectEnvelope(newerReply, "rendered");
    EXPECT_EQ(newerReply["renderGeneration"], 3);
    EXPECT_EQ(blockIds(), json({"newer", "B2"}));
    EXPECT_EQ(page->script("return document.querySelectorAll('#content > article').length;"), 1);

    // A link reports its raw destination, however it is clicked, and
    // nothing navigates: not the location, its hash, or the history.
    ASSERT_EQ(render("[relative](docs/other%20page.md) [fragment](#usage) "
                     "<a href=\"Docs/Raw Name.md\"><em>raw</em></a>\n")["type"],
              "rendered");
    const json none = {{"command", false}, {"option", false}, {"shift", false}};
    const std::vector<std::tuple<json, std::string, std::string, json>> clicks = {
        {{{"index", 0}, {"ctrl", true}}, "docs/other%20page.md", "relative",
         {{"command", true}, {"option", false}, {"shift", false}}},
        {{{"index", 1}, {"method", "click"}}, "#usage", "fragment", none},
        {{{"index", 2}, {"inner", "em"}, {"alt", true}}, "Docs/Raw Name.md", "relative",
         {{"command", false}, {"option", true}, {"shift", false}}},
        {{{"index", 0}, {"type", "auxclick"}, {"button", 1}}, "docs/other%20page.md", "relative", none},
    };
    for (auto [how, href, kind, modifiers] : clicks) {
        const std::size_t before = page->messages().size();
        how["selector"] = "#content a";
        ASSERT_EQ(mouse(how)["found"], true) << how.dump();
        const auto link = page->waitForEvent("openLink", before);
        ASSERT_TRUE(link) << how.dump();
        EXPECT_EQ((*link)["payload"], json({{"href", href}, {"kind", kind}, {"modifiers", modifiers}})) << how.dump();
    }
    EXPECT_EQ(page->script("return [location.href, history.length];"),
              json({std::string(AppResourceSchemeHandler::entryURL), 1}));
    expectNoNavigationButTheEntryPage();
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(RendererProtocolTest, AppearanceRequestsReachTheLayout) {
    loadPage();
    ASSERT_EQ(render("# Heading\n\nA paragraph of text.\n\n```c\nint x;\n```\n")["type"], "rendered");
    const json tokens = {{"--md-text", "#102030"}, {"--md-canvas", "#405060"}, {"--md-link", "red"}};
    EXPECT_EQ(page->request("setTheme", {{"themeID", "midnight"}, {"themeRevision", 12}, {"tokens", tokens}})
                  ["payload"]["appliedCount"],
              2);
    const char* style = R"(
        const root = getComputedStyle(document.documentElement);
        return { text: getComputedStyle(document.querySelector('#B2')).color,
                 gradient: root.getPropertyValue('--md-page-gradient').trim(),
                 layer: getComputedStyle(document.body, '::before').display };)";
    const json themed = page->script(style);
    EXPECT_EQ(themed["text"], "rgb(16, 32, 48)");
    EXPECT_TRUE(themed["gradient"].get<std::string>().starts_with("linear-gradient")) << themed.dump();

    // Reduced transparency, and a "solid" theme, take the gradient layer away.
    page->request("setAccessibility", {{"reduceMotion", false}, {"reduceTransparency", true}, {"increaseContrast", false}});
    EXPECT_EQ(page->script(style), json({{"text", "rgb(16, 32, 48)"}, {"gradient", "none"}, {"layer", "none"}}));
    page->request("setAccessibility", {{"reduceMotion", false}, {"reduceTransparency", false}, {"increaseContrast", false}});
    json solid = tokens;
    solid["--md-background-style"] = "solid";
    page->request("setTheme", {{"themeID", "midnight"}, {"themeRevision", 13}, {"tokens", solid}});
    EXPECT_EQ(page->script(style)["gradient"], "none");

    const json background = page->request("setBackground", {{"pageBackground", "#112233"}, {"colorScheme", "dark"}});
    EXPECT_EQ(background["payload"]["computedBackground"], "rgb(17, 34, 51)");
    EXPECT_EQ(background["payload"]["computedColorScheme"], "dark");

    // While wide blocks keep to the text's width nothing depends on the
    // available width, and the page does not write it (writing it restyles
    // every element of a long document).
    EXPECT_EQ(page->script("return document.documentElement.style.getPropertyValue('--md-available-width');"), "");

    // Typography reaches the layout; a malformed family does not.
    const json typography = page->request("setTypography", {{"fontSizePx", 20},
                                                            {"widthPreset", "wide"},
                                                            {"lineHeightPreset", "loose"},
                                                            {"bodyFamily", "\"DejaVu Serif\", serif"},
                                                            {"monoFamily", "Mono; color: red"},
                                                            {"headingFamily", ""},
                                                            {"fontWeight", 500},
                                                            {"wideBlocks", "full"}});
    EXPECT_EQ(typography["payload"]["rejected"], json({"monoFamily"}));
    const json laidOut = page->script(R"(
        const paragraph = getComputedStyle(document.querySelector('#B2'));
        return {
            size: paragraph.fontSize,
            lineHeight: paragraph.lineHeight,
            family: paragraph.fontFamily.startsWith('"DejaVu Serif", serif'),
            weight: getComputedStyle(document.querySelector('#heading')).fontWeight,
            width: getComputedStyle(document.getElementById('content')).maxWidth,
            mono: getComputedStyle(document.querySelector('#B3 code')).fontFamily.includes('Mono; color'),
            available: document.documentElement.style.getPropertyValue('--md-available-width'),
            clientWidth: document.documentElement.clientWidth,
            codeWidth: document.querySelector('#B3').getBoundingClientRect().width,
        };)");
    EXPECT_EQ(laidOut["size"], "20px");
    EXPECT_EQ(laidOut["lineHeight"], "38px");
    EXPECT_EQ(laidOut["family"], true) << laidOut.dump();
    EXPECT_EQ(laidOut["weight"], "700");
    EXPECT_EQ(laidOut["width"], "1160px");  // 58rem at 20px
    EXPECT_EQ(laidOut["mono"], false);
    // Full-width blocks take the whole width but the page's margins.
    const double clientWidth = laidOut["clientWidth"].get<double>();
    EXPECT_EQ(laidOut["available"], fmt::format("{}px", clientWidth)) << laidOut.dump();
    EXPECT_NEAR(laidOut["codeWidth"].get<double>(), clientWidth - 64, 1.0) << laidOut.dump();
    const auto report = page->waitForMessage([](const json& m) {
        return m.value("type", "") == "layoutReport" && m["payload"].value("reason", "") == "typography";
    });
    ASSERT_TRUE(report);
    EXPECT_EQ((*report)["payload"]["pageScrollWidth"], (*report)["payload"]["clientWidth"]);

    // The top inset becomes padding and scroll padding; the reply says where
    // the content begins.
    const json insets = page->request("setViewportInsets", {{"top", 40}, {"bottom", 12}});
    const json placed = page->script(R"(return {
        content: document.getElementById('content').getBoundingClientRect().top,
        scrollPadding: getComputedStyle(document.documentElement).scrollPaddingTop,
    };)");
    EXPECT_EQ(insets["payload"]["originOffset"], placed["content"]);
    EXPECT_GE(placed["content"].get<double>(), 40.0);
    EXPECT_EQ(placed["scrollPadding"], "48px");
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(RendererProtocolTest, FindHeadingScrollsAndAnchorsPlaceTheirTargetAtTheReadingLine) {
    loadPage();
    std::string source = sectionedDocument(80);
    for (const auto& [marker, text] : {std::pair{"The guide begins here.", " Find the needle."},
                                       std::pair{"Paragraph two of section 30 says", " needle and `needle`"},
                                       std::pair{"Paragraph two of section 58 says", " Needle"}}) {
        const auto at = source.find(marker);
        ASSERT_NE(at, std::string::npos);
        source.insert(at + std::string(marker).size(), text);
    }
    ASSERT_EQ(render(source)["type"], "rendered");
    ASSERT_EQ(page->request("setViewportInsets", {{"top", 50}, {"bottom", 0}})["type"], "viewportInsetsApplied");

    // Each step of a find scrolls its match on screen; clearing restores the text.
    const json text = page->script("return document.getElementById('content').textContent;");
    for (int step = 0; step < 5; ++step) {
        const json found = page->request("find", {{"query", "needle"}, {"direction", "next"},
                                                  {"caseSensitive", false}, {"restart", step == 0}});
        EXPECT_EQ(found["payload"], json({{"matchCount", 4}, {"activeIndex", step % 4}, {"found", true}}));
        EXPECT_EQ(page->script(R"(
            const active = document.querySelectorAll('mark.md-find.md-find-active');
            const box = active[0]?.getBoundingClientRect();
            return active.length === 1 && box.top >= 0 && box.bottom <= innerHeight;)"),
                  true) << step;
    }
    page->request("clearFind");
    EXPECT_EQ(page->script("return document.getElementById('content').textContent;"), text);

    // Heading scrolls put the heading at the reading line (below the inset).
    EXPECT_EQ(page->request("scrollToHeading", {{"id", "section-40"}})["payload"],
              json({{"id", "section-40"}, {"found", true}}));
    EXPECT_NEAR(top("#section-40")["top"].get<double>(), 50.0, 1.0);
    const auto active = page->waitForMessage([](const json& m) {
        return m.value("type", "") == "activeHeading" && m["payload"].value("id", "") == "section-40";
    });
    ASSERT_TRUE(active);
    EXPECT_EQ((*active)["payload"]["index"], 40);
    EXPECT_EQ(page->request("scrollToHeading", {{"id", "Section 41"}})["payload"]["found"], true);
    EXPECT_NEAR(top("#section-41")["top"].get<double>(), 50.0, 1.0);

    // Captured on a heading, restored exactly after text was added above it.
    page->request("scrollToHeading", {{"id", "section-40"}});
    const json anchor = page->request("captureAnchor")["payload"]["anchor"];
    EXPECT_EQ(anchor["blockId"], "section-40");
    EXPECT_NEAR(anchor["offsetPx"].get<double>(), 0.0, 1.0);
    EXPECT_GT(anchor["scrollRatio"].get<double>(), 0.2);
    EXPECT_LT(anchor["scrollRatio"].get<double>(), 0.8);
    const std::string longer = "Preface added later.\n\n" + source;
    json report = render(longer, {{"restoreAnchor", anchor}})["payload"]["anchorRestored"];
    EXPECT_EQ(report["strategy"], "exact") << report.dump();
    EXPECT_NEAR(top("#section-40")["top"].get<double>(), 50.0, 1.0);
    EXPECT_NEAR(report["scrollTop"].get<double>(), top("#section-40")["scrollTop"].get<double>(), 1.0);

    // A source line inside a paragraph is scrolled to; the paragraph's id
    // changes when a block is added above it, and it is found again by its
    // fingerprint.
    const auto at = longer.find("Paragraph one of section 45 ");
    const int line = 1 + static_cast<int>(std::count(longer.begin(), longer.begin() + at, '\n'));
    const json toSource = render(longer, {{"scrollToSource", {{"line", line}}}})["payload"]["scrolledToSource"];
    ASSERT_EQ(toSource["found"], true) << toSource.dump();
    const std::string paragraphId = toSource["blockId"];
    EXPECT_NEAR(top("#" + paragraphId)["top"].get<double>(), 50.0, 1.0);
    const json inParagraph = page->request("captureAnchor")["payload"]["anchor"];
    EXPECT_EQ(inParagraph["blockId"], paragraphId);
    report = render("Another preface.\n\n" + longer, {{"restoreAnchor", inParagraph}})["payload"]["anchorRestored"];
    EXPECT_EQ(report["strategy"], "fingerprint") << report.dump();
    EXPECT_NE(report["blockId"], paragraphId);
    EXPECT_NEAR(top("#" + report["blockId"].get<std::string>())["top"].get<double>(), 50.0, 1.0);

    // Neither block nor fingerprint left: the innermost heading of its path,
    // then the scroll ratio.
    json lost = anchor;
    lost["blockId"] = "gone";
    lost["fingerprint"] = "00000000";
    lost["headingPath"] = {"Guide", "Section 12"};
    EXPECT_EQ(render(source, {{"restoreAnchor", lost}})["payload"]["anchorRestored"]["strategy"], "heading");
    EXPECT_NEAR(top("#section-12")["top"].get<double>(), 50.0, 1.0);
    lost["headingPath"] = json::array();
    lost["scrollRatio"] = 0.5;
    EXPECT_EQ(render(source, {{"restoreAnchor", lost}})["payload"]["anchorRestored"]["strategy"], "ratio");
    const json position = top("#section-1");
    EXPECT_NEAR(position["scrollTop"].get<double>() / position["maxScroll"].get<double>(), 0.5, 0.05)
        << position.dump();
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(RendererProtocolTest, AHiddenPageRendersWithoutFramesAndCatchesUpWhenShown) {
    loadPage(/*shown=*/false);  // a prewarmed page: no window, no size
    EXPECT_EQ(page->script("return [innerWidth, innerHeight, document.visibilityState];"),
              json({0, 0, "hidden"}));

    const std::string source = sectionedDocument(400);  // about 150 KB
    json anchor = {{"version", 1},
                   {"blockId", "gone"},
                   {"kind", "heading"},
                   {"fingerprint", "00000000"},
                   {"headingPath", {"Guide", "Section 200"}},
                   {"sourceRange", {{"start", 1}, {"end", 1}}},
                   {"relativeOffset", 0},
                   {"offsetPx", 0},
                   {"scrollTop", 0},
                   {"scrollRatio", 0}};
    const json rendered = render(source, {{"restoreAnchor", anchor}});
    expectEnvelope(rendered, "rendered");
    const json& payload = rendered["payload"];
    EXPECT_EQ(payload["timings"]["frameCount"], 0);
    EXPECT_EQ(payload["timings"]["maxFrameGapMs"], 0);
    EXPECT_FALSE(payload.contains("anchorRestored")) << "restored when the page gets a size";
    EXPECT_EQ(page->script("return document.querySelectorAll('#content > article > .md-chunk > *')"
                           ".length;"),
              payload["blocks"].size());
    EXPECT_TRUE(page->eventsOf("layoutReport").empty()) << "no layout without a size";
    EXPECT_TRUE(page->eventsOf("anchorRestored").empty());

    // Shown: it lays out again, reports the layout and restores the place.
    const std::size_t before = page->messages().size();
    window = harness.show(page->view());
    const auto resized = page->waitForMessage(
        [](const json& m) {
            return m.value("type", "") == "layoutReport" && m["payload"].value("reason", "") == "resize";
        },
        before);
    ASSERT_TRUE(resized);
    EXPECT_GT((*resized)["payload"]["clientWidth"].get<double>(), 0.0);
    const auto restored = page->waitForEvent("anchorRestored", before);
    ASSERT_TRUE(restored);
    expectEnvelope(*restored, "anchorRestored");
    EXPECT_EQ((*restored)["payload"]["strategy"], "heading");
    EXPECT_EQ((*restored)["payload"]["applied"], true);
    EXPECT_EQ((*restored)["payload"]["blockId"], "section-200");
    EXPECT_NEAR(top("#section-200")["top"].get<double>(), 0.0, 1.0);

    // Visible now: a long render spans frames; a background one does not
    // wait for them.
    const json visible = render(source);
    EXPECT_GT(visible["payload"]["timings"]["frameCount"].get<int>(), 0) << visible["payload"]["timings"].dump();
    const json background = render(source, {{"background", true}});
    EXPECT_EQ(background["payload"]["timings"]["frameCount"], 0);
    EXPECT_EQ(background["payload"]["timings"]["maxFrameGapMs"], 0);
    EXPECT_EQ(page->script("return document.querySelectorAll('#content > article > .md-chunk > *')"
                           ".length;"),
              background["payload"]["blocks"].size());
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

}  // namespace
}  // namespace larkspin::test
