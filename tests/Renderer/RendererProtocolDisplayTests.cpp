// The renderer page's side of the message protocol, in a real WebKitGTK web
// view under Xvfb: the built page, its module worker, its content security
// policy, real layout, scrolling and DOM events. The page's logic itself is
// covered by its unit tests in renderer/test; these tests check what only
// the real engine can show.

#include <fmt/format.h>

#include <algorithm>
#include <set>

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

TEST_F(RendererProtocolTest, ReadyComesFirstAndEventsWaitForTheFirstRequest) {
    loadPage();
    ASSERT_FALSE(page->messages().empty());
    const json ready = page->messages().front();
    expectEnvelope(ready, "ready");
    EXPECT_EQ(ready["viewSessionID"], "");
    EXPECT_EQ(ready["documentID"], "");
    EXPECT_EQ(ready["sourceRevision"], 0);
    EXPECT_EQ(ready["renderGeneration"], 0);
    EXPECT_EQ(ready["payload"], json::object());
    EXPECT_TRUE(isUpperCaseUUID(ready["messageID"])) << ready.dump();
    EXPECT_EQ(page->script("return Object.isFrozen(window.Orvik) && "
                           "typeof window.Orvik.handleMessage === 'function';"),
              true);

    // A link clicked before any request: its event waits in the page. (The
    // script's reply comes after anything the click posted.)
    const json injected = page->script(R"(
        const link = document.createElement('a');
        link.href = 'https://example.org/queued';
        link.id = 'queued';
        link.textContent = 'queued';
        document.body.append(link);
        return true;)");
    ASSERT_EQ(injected, true);
    EXPECT_EQ(mouse({{"selector", "#queued"}})["prevented"], true);
    EXPECT_EQ(page->messages().size(), 1u) << page->messages().back().dump();

    page->viewSessionID = "SESSION-A";
    page->documentID = "DOC-A";
    page->sourceRevision = 7;
    const json probe = page->envelope("probe");
    const json capabilities = RendererPage::reply(page->send(probe));
    expectEnvelope(capabilities, "capabilities");
    EXPECT_EQ(capabilities["messageID"], probe["messageID"]);
    EXPECT_EQ(capabilities["viewSessionID"], "SESSION-A");
    EXPECT_EQ(capabilities["documentID"], "DOC-A");
    EXPECT_EQ(capabilities["sourceRevision"], 7);
    EXPECT_EQ(capabilities["renderGeneration"], 0);
    const json& found = capabilities["payload"];
    EXPECT_EQ(found["isSecureContext"], true) << found.dump();
    EXPECT_EQ(found["cryptoSubtle"], true);
    EXPECT_EQ(found["moduleWorker"], true);
    EXPECT_EQ(found["dynamicImport"], true);
    EXPECT_EQ(found["cspBlockedInlineScript"], true);
    EXPECT_FALSE(found.value("userAgent", "").empty());

    // The queued event went out with the first request's session.
    const auto queued = page->waitForEvent("openLink");
    ASSERT_TRUE(queued);
    expectEnvelope(*queued, "openLink");
    EXPECT_EQ((*queued)["viewSessionID"], "SESSION-A");
    EXPECT_EQ((*queued)["documentID"], "DOC-A");
    EXPECT_TRUE(isUpperCaseUUID((*queued)["messageID"]));
    EXPECT_NE((*queued)["messageID"], probe["messageID"]);
    EXPECT_EQ((*queued)["payload"],
              json({{"href", "https://example.org/queued"},
                    {"kind", "external"},
                    {"modifiers", {{"command", false}, {"option", false}, {"shift", false}}}}));

    // A prewarmed page changes session without reloading: events follow the
    // latest request.
    page->viewSessionID = "SESSION-B";
    page->documentID = "DOC-B";
    const json cleared = page->request("clearFind");
    expectEnvelope(cleared, "findResult");
    EXPECT_EQ(cleared["viewSessionID"], "SESSION-B");
    const std::size_t before = page->messages().size();
    mouse({{"selector", "#queued"}});
    const auto second = page->waitForEvent("openLink", before);
    ASSERT_TRUE(second);
    EXPECT_EQ((*second)["viewSessionID"], "SESSION-B");
    EXPECT_EQ((*second)["documentID"], "DOC-B");

    EXPECT_EQ(page->eventsOf("ready").size(), 1u);
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
    expectNoNavigationButTheEntryPage();
}

TEST_F(RendererProtocolTest, OverlappingRequestsAreEachAnsweredByTheirOwnMessageID) {
    loadPage();
    struct Sent {
        json envelope;
        std::string replyType;
        std::string errorCode;  // empty for a normal reply
        std::shared_ptr<ScriptOutcome> outcome;
    };
    std::vector<Sent> sent;
    const auto add = [&](json envelope, std::string replyType, std::string errorCode = "") {
        sent.push_back({std::move(envelope), std::move(replyType), std::move(errorCode), nullptr});
    };
    add(page->envelope("setViewportInsets", {{"top", 0}, {"bottom", 0}}), "viewportInsetsApplied");
    json noPayload = page->envelope("clearFind");
    noPayload.erase("payload");
    add(noPayload, "error", "invalidEnvelope");
    add(page->envelope("bogus"), "error", "unknownType");
    add(page->envelope("rendered"), "error", "notARequest");
    add(page->envelope("setFonts"), "error", "notARequest");
    json version = page->envelope("clearFind");
    version["protocolVersion"] = 2;
    add(version, "error", "unsupportedVersion");
    json fraction = page->envelope("clearFind");
    fraction["sourceRevision"] = 5.5;
    add(fraction, "error", "invalidEnvelope");
    add(page->envelope("setTheme", json::object()), "error", "invalidPayload");
    add(page->envelope("find", {{"query", "x"},
                                {"direction", "replaceAll"},
                                {"caseSensitive", false},
                                {"restart", true}}),
        "error", "unsupported");
    add(page->envelope("captureAnchor"), "anchor");
    add(page->envelope("render", {{"source", "# One\n\ntext\n"}, {"language", "en"}}), "rendered");
    add(page->envelope("clearFind"), "findResult");
    add(page->envelope("setAccessibility", {{"reduceMotion", true},
                                            {"reduceTransparency", false},
                                            {"increaseContrast", false}}),
        "accessibilityApplied");

    for (auto& request : sent) request.outcome = page->send(request.envelope);
    int highest = 0;
    for (const auto& request : sent) {
        const json reply = RendererPage::reply(request.outcome);
        SCOPED_TRACE(request.envelope.dump());
        expectEnvelope(reply, request.replyType);
        EXPECT_EQ(reply["messageID"], request.envelope["messageID"]);
        if (!request.errorCode.empty()) {
            EXPECT_EQ(reply["payload"].value("code", ""), request.errorCode) << reply.dump();
            EXPECT_TRUE(reply["payload"]["message"].is_string());
        } else {
            EXPECT_EQ(reply["viewSessionID"], "SESSION-1");
            EXPECT_EQ(reply["documentID"], "DOC-1");
            EXPECT_EQ(reply["sourceRevision"], 1);
        }
        // Requests are handled in the order sent: the generation never goes
        // back, and it is 1 from the render on.
        EXPECT_GE(reply.value("renderGeneration", -1), highest);
        highest = std::max(highest, reply.value("renderGeneration", 0));
        if (request.replyType == "rendered") {
            EXPECT_EQ(reply["renderGeneration"], 1);
            EXPECT_EQ(reply["payload"]["renderGeneration"], 1);
        }
    }
    EXPECT_EQ(highest, 1);
    EXPECT_EQ(RendererPage::reply(sent[9].outcome)["payload"], json::object())
        << "no anchor without a document";
    EXPECT_EQ(RendererPage::reply(sent[12].outcome)["payload"],
              json({{"reduceMotion", true}, {"reduceTransparency", false}, {"increaseContrast", false}}));
}

TEST_F(RendererProtocolTest, RenderedDescribesTheDocumentAndGenerationsOnlyRise) {
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
    EXPECT_EQ(payload["headings"], json::parse(R"([
        {"level": 1, "text": "Title", "id": "title"},
        {"level": 2, "text": "Title", "id": "title-1"},
        {"level": 3, "text": "Ünïcode & code", "id": "ünïcode--code"}])"));
    EXPECT_EQ(payload["blocks"], json::parse(R"([
        {"id": "title", "kind": "heading", "sourceStart": 4, "sourceEnd": 4},
        {"id": "B2", "kind": "paragraph", "sourceStart": 6, "sourceEnd": 6},
        {"id": "title-1", "kind": "heading", "sourceStart": 8, "sourceEnd": 8},
        {"id": "B4", "kind": "list", "sourceStart": 10, "sourceEnd": 11},
        {"id": "B5", "kind": "table", "sourceStart": 13, "sourceEnd": 15},
        {"id": "B6", "kind": "code", "sourceStart": 17, "sourceEnd": 19},
        {"id": "B7", "kind": "math", "sourceStart": 21, "sourceEnd": 23},
        {"id": "ünïcode--code", "kind": "heading", "sourceStart": 25, "sourceEnd": 25}])"));
    EXPECT_EQ(payload["images"], json({{"local", 1}, {"remote", 1}, {"rejected", 1}}));
    for (const char* key :
         {"parseMs", "parseWaitMs", "domMs", "diagramMs", "maxFrameGapMs", "frameCount", "totalMs"}) {
        EXPECT_TRUE(payload["timings"][key].is_number()) << key;
    }

    // The blocks are in the page in that order, typeset and highlighted.
    std::vector<std::string> ids;
    for (const auto& block : payload["blocks"]) ids.push_back(block["id"]);
    EXPECT_EQ(blockIds(), json(ids));
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

    // Each render raises the generation; other replies carry the current one.
    const json second = render("# Second\n");
    EXPECT_EQ(second["renderGeneration"], 2);
    EXPECT_EQ(page->request("clearFind")["renderGeneration"], 2);

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
    EXPECT_EQ(newerReply["renderGeneration"], 4);
    EXPECT_EQ(newerReply["payload"]["renderGeneration"], 4);
    EXPECT_GE(replacedReply["renderGeneration"], 3);
    EXPECT_LE(replacedReply["renderGeneration"], 4);
    EXPECT_EQ(blockIds(), json({"newer", "B2"}));
    EXPECT_EQ(page->script("return document.querySelectorAll('#content > article').length;"), 1);
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(RendererProtocolTest, AppearanceRequestsReachTheLayout) {
    loadPage();
    ASSERT_EQ(render("# Heading\n\nA paragraph of text.\n\n```c\nint x;\n```\n")["type"], "rendered");

    // Theme: 31 colour tokens, one malformed value and one foreign name.
    json tokens = json::object();
    const char* names[] = {"canvas",          "surface",         "text",           "text-secondary",
                           "link",            "selection",       "focus",          "heading",
                           "quote-border",    "quote-text",      "code-bg",        "code-text",
                           "table-head-bg",   "table-row-alt",   "table-border",   "callout-bg",
                           "error-bg",        "error-text",      "syntax-keyword", "syntax-string",
                           "syntax-comment",  "syntax-number",   "syntax-function", "syntax-type",
                           "syntax-punctuation", "diagram-node", "diagram-node-border",
                           "diagram-label",   "diagram-edge",    "diagram-cluster", "diagram-error"};
    for (const char* name : names) tokens[std::string("--md-") + name] = "#405060";
    tokens["--md-text"] = "#102030";
    tokens["--md-selection"] = "#10203040";
    ASSERT_EQ(tokens.size(), 31u);
    tokens["--md-link"] = "red";  // refused: keeps its previous value
    tokens["color"] = "#FFFFFF";  // not a theme token
    const json theme = page->request(
        "setTheme", {{"themeID", "midnight"}, {"themeRevision", 12}, {"tokens", tokens}});
    expectEnvelope(theme, "themeApplied");
    EXPECT_EQ(theme["payload"], json({{"themeID", "midnight"}, {"themeRevision", 12}, {"appliedCount", 30}}));
    const json themed = page->script(R"(
        const root = getComputedStyle(document.documentElement);
        return {
            text: getComputedStyle(document.querySelector('#B2')).color,
            gradient: root.getPropertyValue('--md-page-gradient').trim(),
        };)");
    EXPECT_EQ(themed["text"], "rgb(16, 32, 48)");
    EXPECT_TRUE(themed["gradient"].get<std::string>().starts_with("linear-gradient")) << themed.dump();

    // "solid", reduce transparency and increase contrast take the gradient
    // away; the accessibility reply is the options as applied.
    const json accessibility = page->request(
        "setAccessibility",
        {{"reduceMotion", false}, {"reduceTransparency", true}, {"increaseContrast", false}});
    expectEnvelope(accessibility, "accessibilityApplied");
    EXPECT_EQ(accessibility["payload"],
              json({{"reduceMotion", false}, {"reduceTransparency", true}, {"increaseContrast", false}}));
    const char* gradientNow =
        "return { gradient: getComputedStyle(document.documentElement)"
        ".getPropertyValue('--md-page-gradient').trim(), "
        "layer: getComputedStyle(document.body, '::before').display };";
    EXPECT_EQ(page->script(gradientNow), json({{"gradient", "none"}, {"layer", "none"}}));
    page->request("setAccessibility",
                  {{"reduceMotion", false}, {"reduceTransparency", false}, {"increaseContrast", false}});
    tokens["--md-background-style"] = "solid";
    EXPECT_EQ(page->request("setTheme",
                            {{"themeID", "midnight"}, {"themeRevision", 13}, {"tokens", tokens}})
                  ["payload"]["appliedCount"],
              31);
    EXPECT_EQ(page->script(gradientNow)["gradient"], "none");

    const json background =
        page->request("setBackground", {{"pageBackground", "#112233"}, {"colorScheme", "dark"}});
    expectEnvelope(background, "backgroundApplied");
    EXPECT_EQ(background["payload"]["pageBackground"], "#112233");
    EXPECT_EQ(background["payload"]["computedBackground"], "rgb(17, 34, 51)");
    EXPECT_EQ(background["payload"]["computedColorScheme"], "dark");

    // While wide blocks keep to the text's width nothing depends on the
    // available width, and the page does not write it (writing it restyles
    // every element of a long document).
    EXPECT_EQ(page->script("return document.documentElement.style.getPropertyValue('--md-available-width');"), "");

    // Typography: a malformed family is refused and named, the rest reach
    // the layout.
    const json typography = page->request("setTypography", {{"fontSizePx", 20},
                                                            {"widthPreset", "wide"},
                                                            {"lineHeightPreset", "loose"},
                                                            {"bodyFamily", "\"DejaVu Serif\", serif"},
                                                            {"monoFamily", "Mono; color: red"},
                                                            {"headingFamily", ""},
                                                            {"fontWeight", 500},
                                                            {"wideBlocks", "full"}});
    expectEnvelope(typography, "typographyApplied");
    const json& applied = typography["payload"];
    EXPECT_EQ(applied["rejected"], json({"monoFamily"}));
    EXPECT_EQ(applied["proseWidthRem"], 58);
    EXPECT_EQ(applied["lineHeight"], 1.9);
    EXPECT_EQ(applied["headingWeight"], 700);
    EXPECT_EQ(applied["bodyFamily"], "\"DejaVu Serif\", serif");
    EXPECT_EQ(applied["monoFamily"], "");
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

    // Insets: the top inset becomes padding and scroll padding; the reply
    // says where the content begins.
    const json insets = page->request("setViewportInsets", {{"top", 40}, {"bottom", 12}});
    expectEnvelope(insets, "viewportInsetsApplied");
    EXPECT_EQ(insets["payload"]["top"], 40);
    EXPECT_EQ(insets["payload"]["bottom"], 12);
    const json placed = page->script(R"(return {
        content: document.getElementById('content').getBoundingClientRect().top,
        scrollPadding: getComputedStyle(document.documentElement).scrollPaddingTop,
    };)");
    EXPECT_EQ(insets["payload"]["originOffset"], placed["content"]);
    EXPECT_GE(placed["content"].get<double>(), 40.0);
    EXPECT_EQ(placed["scrollPadding"], "48px");
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(RendererProtocolTest, FindMarksScrollsToTheActiveMatchAndClears) {
    loadPage();
    std::string source = sectionedDocument(60);
    const auto insertAfter = [&](const std::string& marker, const std::string& text) {
        const auto at = source.find(marker);
        ASSERT_NE(at, std::string::npos);
        source.insert(at + marker.size(), text);
    };
    insertAfter("The guide begins here.", " Find the needle.");
    insertAfter("Paragraph two of section 30 says", " needle and `needle`");
    insertAfter("Paragraph two of section 58 says", " Needle");
    ASSERT_EQ(render(source)["type"], "rendered");
    const json before = page->script("return document.getElementById('content').textContent;");

    const auto find = [&](const std::string& query, const std::string& direction, bool caseSensitive,
                          bool restart) {
        const json reply = page->request("find", {{"query", query},
                                                  {"direction", direction},
                                                  {"caseSensitive", caseSensitive},
                                                  {"restart", restart}});
        EXPECT_EQ(reply.value("type", ""), "findResult") << reply.dump();
        return reply["payload"];
    };
    // The active match is on screen: the page scrolled it there.
    const auto activeOnScreen = [&] {
        return page->script(R"(
            const active = document.querySelectorAll('mark.md-find.md-find-active');
            if (active.length === 0) return { count: 0 };
            const box = active[0].getBoundingClientRect();
            return { count: active.length, onScreen: box.top >= 0 && box.bottom <= innerHeight,
                     text: active[0].textContent };)");
    };

    EXPECT_EQ(find("needle", "next", false, true),
              json({{"matchCount", 4}, {"activeIndex", 0}, {"found", true}}));
    EXPECT_EQ(page->script("return document.querySelectorAll('mark.md-find').length;"), 4);
    EXPECT_EQ(activeOnScreen(), json({{"count", 1}, {"onScreen", true}, {"text", "needle"}}));
    EXPECT_EQ(find("needle", "next", false, false)["activeIndex"], 1);
    const json far = activeOnScreen();
    EXPECT_EQ(far["onScreen"], true) << far.dump();
    EXPECT_GT(top("#section-30")["scrollTop"].get<double>(), 0.0);
    EXPECT_EQ(find("needle", "next", false, false)["activeIndex"], 2);
    EXPECT_EQ(activeOnScreen()["onScreen"], true);
    EXPECT_EQ(find("needle", "next", false, false)["activeIndex"], 3);
    EXPECT_EQ(activeOnScreen(), json({{"count", 1}, {"onScreen", true}, {"text", "Needle"}}));
    EXPECT_EQ(find("needle", "next", false, false)["activeIndex"], 0);  // wraps
    EXPECT_EQ(find("needle", "previous", false, false)["activeIndex"], 3);
    EXPECT_EQ(find("Needle", "next", true, true),
              json({{"matchCount", 1}, {"activeIndex", 0}, {"found", true}}));

    // After a re-render the search runs again and keeps the active index.
    EXPECT_EQ(find("needle", "next", false, true)["matchCount"], 4);
    const int kept = find("needle", "next", false, false)["activeIndex"];
    ASSERT_EQ(render(source)["type"], "rendered");
    EXPECT_EQ(find("needle", "next", false, false),
              json({{"matchCount", 4}, {"activeIndex", kept}, {"found", true}}));
    EXPECT_EQ(activeOnScreen()["onScreen"], true);

    const json cleared = page->request("clearFind");
    expectEnvelope(cleared, "findResult");
    EXPECT_EQ(cleared["payload"], json({{"matchCount", 0}, {"activeIndex", -1}, {"found", false}}));
    EXPECT_EQ(page->script("return document.querySelectorAll('mark').length;"), 0);
    EXPECT_EQ(page->script("return document.getElementById('content').textContent;"), before);
    EXPECT_EQ(find("nothing like it", "next", false, true),
              json({{"matchCount", 0}, {"activeIndex", -1}, {"found", false}}));
}

TEST_F(RendererProtocolTest, AnchorsAndHeadingScrollsPlaceTheReadingLine) {
    loadPage();
    const std::string source = sectionedDocument(80);
    ASSERT_EQ(render(source)["type"], "rendered");
    ASSERT_EQ(page->request("setViewportInsets", {{"top", 50}, {"bottom", 0}})["type"],
              "viewportInsetsApplied");

    // Heading scrolls put the heading at the reading line (below the inset).
    const json scrolled = page->request("scrollToHeading", {{"id", "section-40"}});
    expectEnvelope(scrolled, "scrolled");
    EXPECT_EQ(scrolled["payload"], json({{"id", "section-40"}, {"found", true}}));
    EXPECT_NEAR(top("#section-40")["top"].get<double>(), 50.0, 1.0);
    const auto active = page->waitForMessage([](const json& m) {
        return m.value("type", "") == "activeHeading" && m["payload"].value("id", "") == "section-40";
    });
    ASSERT_TRUE(active);
    EXPECT_EQ((*active)["payload"]["index"], 40);
    EXPECT_EQ(page->request("scrollToHeading", {{"id", "Section 41"}})["payload"],
              json({{"id", "Section 41"}, {"found", true}}));
    EXPECT_NEAR(top("#section-41")["top"].get<double>(), 50.0, 1.0);
    EXPECT_EQ(page->request("scrollToHeading", {{"id", "no such heading"}})["payload"]["found"], false);

    // Captured on a heading, restored exactly after text was added above it.
    page->request("scrollToHeading", {{"id", "section-40"}});
    const json captured = page->request("captureAnchor");
    expectEnvelope(captured, "anchor");
    const json anchor = captured["payload"]["anchor"];
    for (const char* key : {"version", "blockId", "kind", "fingerprint", "headingPath", "sourceRange",
                            "relativeOffset", "offsetPx", "scrollTop", "scrollRatio"}) {
        EXPECT_TRUE(anchor.contains(key)) << key << " " << anchor.dump();
    }
    EXPECT_EQ(anchor["blockId"], "section-40");
    EXPECT_EQ(anchor["kind"], "heading");
    EXPECT_EQ(anchor["headingPath"], json({"Guide", "Section 40"}));
    EXPECT_NEAR(anchor["offsetPx"].get<double>(), 0.0, 1.0);
    EXPECT_GT(anchor["scrollRatio"].get<double>(), 0.2);
    EXPECT_LT(anchor["scrollRatio"].get<double>(), 0.8);

    const std::string longer = "Preface added later.\n\n" + source;
    json restored = render(longer, {{"restoreAnchor", anchor}});
    ASSERT_EQ(restored.value("type", ""), "rendered") << restored.dump();
    json report = restored["payload"]["anchorRestored"];
    EXPECT_EQ(report["strategy"], "exact") << report.dump();
    EXPECT_EQ(report["applied"], true);
    EXPECT_EQ(report["blockId"], "section-40");
    EXPECT_NEAR(top("#section-40")["top"].get<double>(), 50.0, 1.0);
    EXPECT_NEAR(report["scrollTop"].get<double>(), top("#section-40")["scrollTop"].get<double>(), 1.0);

    // Captured inside a paragraph, whose id changes when a block is added
    // above it: found again by its fingerprint.
    // The line of the paragraph that opens section 45.
    const auto at = longer.find("Paragraph one of section 45 ");
    ASSERT_NE(at, std::string::npos);
    const int line = 1 + static_cast<int>(std::count(longer.begin(), longer.begin() + at, '\n'));
    const json reached = render(longer, {{"scrollToSource", {{"line", line}}}});
    const json& toSource = reached["payload"]["scrolledToSource"];
    ASSERT_TRUE(toSource.is_object()) << reached.dump().substr(0, 500);
    EXPECT_EQ(toSource.size(), 6u);
    EXPECT_EQ(toSource["line"], line);
    EXPECT_EQ(toSource["found"], true);
    EXPECT_EQ(toSource["sourceStart"], line);
    EXPECT_EQ(toSource["sourceEnd"], line);
    EXPECT_EQ(toSource["strategy"], "contains");
    const std::string paragraphId = toSource["blockId"];
    EXPECT_NEAR(top("#" + paragraphId)["top"].get<double>(), 50.0, 1.0);
    const json inParagraph = page->request("captureAnchor")["payload"]["anchor"];
    EXPECT_EQ(inParagraph["blockId"], paragraphId);
    EXPECT_EQ(inParagraph["kind"], "paragraph");

    restored = render("Another preface.\n\n" + longer, {{"restoreAnchor", inParagraph}});
    report = restored["payload"]["anchorRestored"];
    EXPECT_EQ(report["strategy"], "fingerprint") << report.dump();
    EXPECT_EQ(report["applied"], true);
    const std::string movedId = report["blockId"];
    EXPECT_NE(movedId, paragraphId);
    EXPECT_NEAR(top("#" + movedId)["top"].get<double>(), 50.0, 1.0);

    // Neither block nor fingerprint left: the innermost heading of its path,
    // then the scroll ratio.
    json lost = anchor;
    lost["blockId"] = "gone";
    lost["fingerprint"] = "00000000";
    lost["headingPath"] = {"Guide", "Section 12"};
    report = render(source, {{"restoreAnchor", lost}})["payload"]["anchorRestored"];
    EXPECT_EQ(report["strategy"], "heading") << report.dump();
    EXPECT_EQ(report["blockId"], "section-12");
    EXPECT_NEAR(top("#section-12")["top"].get<double>(), 50.0, 1.0);
    lost["headingPath"] = json::array();
    lost["scrollRatio"] = 0.5;
    report = render(source, {{"restoreAnchor", lost}})["payload"]["anchorRestored"];
    EXPECT_EQ(report["strategy"], "ratio") << report.dump();
    const json position = top("#section-1");
    EXPECT_NEAR(position["scrollTop"].get<double>() / position["maxScroll"].get<double>(), 0.5, 0.05)
        << position.dump();
    json invalid = anchor;
    invalid.erase("fingerprint");
    report = render(source, {{"restoreAnchor", invalid}})["payload"]["anchorRestored"];
    EXPECT_EQ(report["strategy"], "none");
    EXPECT_EQ(report["applied"], false);
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(RendererProtocolTest, LinkClicksOnlyReportTheirRawDestination) {
    loadPage();
    const std::string source =
        "# Links\n\n"
        "[external](https://example.org/a?b=1#c \"title\") [relative](docs/other%20page.md) "
        "[fragment](#usage) [file](file:///etc/hosts) [absolute](/usr/share/doc/) "
        "[mail](mailto:someone@example.org) <https://auto.example.org/x> "
        "[with *emphasis*](https://example.org/em)\n\n"
        "<a href=\"Docs/Raw Name.md\">raw</a>\n\n"
        "```sh\necho copy me\n```\n";
    ASSERT_EQ(render(source)["type"], "rendered");
    const json expected = json::parse(R"([
        ["https://example.org/a?b=1#c", "external"], ["docs/other%20page.md", "relative"],
        ["#usage", "fragment"], ["file:///etc/hosts", "file"], ["/usr/share/doc/", "file"],
        ["mailto:someone@example.org", "external"], ["https://auto.example.org/x", "external"],
        ["https://example.org/em", "external"], ["Docs/Raw Name.md", "relative"]])");
    ASSERT_EQ(page->script("return document.querySelectorAll('#content a').length;"), expected.size());

    const json none = {{"command", false}, {"option", false}, {"shift", false}};
    const auto clickAndExpect = [&](json how, const json& href, const std::string& kind,
                                    const json& modifiers) {
        const std::size_t before = page->messages().size();
        how["selector"] = "#content a";
        const json clicked = mouse(how);
        ASSERT_EQ(clicked["found"], true) << how.dump();
        if (!clicked["prevented"].is_null()) {
            EXPECT_EQ(clicked["prevented"], true) << how.dump();
        }
        const auto link = page->waitForEvent("openLink", before);
        ASSERT_TRUE(link) << how.dump();
        expectEnvelope(*link, "openLink");
        EXPECT_EQ((*link)["payload"],
                  json({{"href", href}, {"kind", kind}, {"modifiers", modifiers}}))
            << how.dump();
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        clickAndExpect({{"index", i}}, expected[i][0], expected[i][1], none);
    }
    // Modifiers: Ctrl or Meta is command, Alt is option.
    clickAndExpect({{"ctrl", true}}, expected[0][0], "external",
                   {{"command", true}, {"option", false}, {"shift", false}});
    clickAndExpect({{"meta", true}, {"shift", true}}, expected[0][0], "external",
                   {{"command", true}, {"option", false}, {"shift", true}});
    clickAndExpect({{"alt", true}}, expected[0][0], "external",
                   {{"command", false}, {"option", true}, {"shift", false}});
    // On an element inside the link, through element.click(), and the
    // middle button.
    clickAndExpect({{"index", 7}, {"inner", "em"}}, "https://example.org/em", "external", none);
    clickAndExpect({{"index", 2}, {"method", "click"}}, "#usage", "fragment", none);
    clickAndExpect({{"index", 1}, {"type", "auxclick"}, {"button", 1}}, expected[1][0], "relative",
                   none);
    // The secondary button's auxclick is cancelled and reports nothing.
    const std::size_t before = page->messages().size();
    EXPECT_EQ(mouse({{"selector", "#content a"}, {"type", "auxclick"}, {"button", 2}})["prevented"], true);
    EXPECT_EQ(page->messages().size(), before);

    // The copy button hands the code to the reader.
    ASSERT_EQ(mouse({{"selector", "#content button.md-copy"}})["found"], true);
    const auto copied = page->waitForEvent("copyText", before);
    ASSERT_TRUE(copied);
    EXPECT_EQ((*copied)["payload"], json({{"text", "echo copy me\n"}, {"kind", "code"}}));

    // Nothing moved: not the location, its hash, or the history.
    EXPECT_EQ(page->script("return [location.href, history.length];"),
              json({std::string(AppResourceSchemeHandler::entryURL), 1}));
    expectNoNavigationButTheEntryPage();
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
