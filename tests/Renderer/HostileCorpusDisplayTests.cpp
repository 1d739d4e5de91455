// A document is untrusted input. The hostile corpus (renderer/test/hostile,
// shared with the page's unit tests) goes through the real page in a real
// web view, and every way out is watched: a trap on window.__pwned (which
// every script in the corpus sets) installed before the page's own scripts,
// script dialogs, navigations ("decide-policy"), every resource load
// ("resource-load-started"), the requests of both URL schemes and, through
// a local proxy, every http and https request. After each document every
// element is clicked, hovered and focused and every image is made to load.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "Renderer/RendererPageTest.hpp"

namespace larkspin::test {
namespace {

// Touches everything the rendered document holds, lets images load and
// events settle, then reports what the document left in the page.
constexpr const char* exercise = R"(
    const article = document.querySelector('#content > article.md-doc');
    // Highlighting and math come after "rendered": a document that has some
    // is touched once they are all in place (settled is then "yes").
    if (settled !== 'yes' && article.enhancementsComing !== undefined) return { unsettled: true };
    const elements = Array.from(article.querySelectorAll('*'));
    for (const host of article.querySelectorAll('[data-diagram]')) {
        if (host.shadowRoot) elements.push(...host.shadowRoot.querySelectorAll('*'));
    }
    const images = elements.filter((e) => e.localName === 'img');
    for (const img of images) img.loading = 'eager';
    const mouse = (type, button = 0) => new MouseEvent(type, {
        bubbles: true, cancelable: true, composed: true, view: window, button });
    for (const element of elements) {
        for (const type of ['pointerover', 'pointerenter', 'mouseover', 'mouseenter', 'mousemove',
                            'pointerdown', 'mousedown', 'pointerup', 'mouseup', 'click', 'dblclick',
                            'contextmenu', 'mouseout', 'mouseleave']) {
            element.dispatchEvent(mouse(type));
        }
        element.dispatchEvent(mouse('auxclick', 1));
        if (typeof element.focus === 'function') element.focus();
        if (typeof element.click === 'function') element.click();
    }
    for (const details of article.querySelectorAll('details')) details.open = !details.open;
    await Promise.all(images.map((img) => img.complete ? null : new Promise((done) => {
        img.addEventListener('load', done, { once: true });
        img.addEventListener('error', done, { once: true });
        setTimeout(done, 10000);  // an upper bound, not a delay
    })));
    await new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));

    const problems = [];
    const describe = (e) => `<${e.localName}> ${e.outerHTML.slice(0, 100)}`;
    for (const script of document.querySelectorAll('script')) {
        if (script.getAttribute('src') !== 'renderer.js') problems.push(`script ${describe(script)}`);
    }
    const forbidden = ['iframe', 'frame', 'frameset', 'object', 'embed', 'applet', 'portal', 'form',
        'textarea', 'select', 'option', 'base', 'meta[http-equiv]', 'style', 'audio', 'video',
        'source', 'track', 'picture', 'canvas', 'map', 'area', 'dialog', 'marquee', 'template',
        'noscript', 'use', 'image', 'foreignObject', 'feImage', 'animate', 'set', 'handler',
        'link:not([rel="stylesheet"][href="renderer.css"])', 'button:not(.md-copy)',
        'input:not([type="checkbox"][disabled])'];
    for (const selector of forbidden) {
        for (const e of document.querySelectorAll(selector)) problems.push(`${selector}: ${describe(e)}`);
    }
    const urlAttributes = ['href', 'xlink:href', 'src', 'action', 'formaction', 'data', 'srcdoc',
                           'poster', 'background', 'srcset', 'ping'];
    for (const e of elements) {
        for (const name of e.getAttributeNames()) {
            const value = e.getAttribute(name).replace(/[\u0000-\u0020]/g, '');
            if (name.toLowerCase().startsWith('on')) problems.push(`handler ${name}: ${describe(e)}`);
            if (urlAttributes.includes(name.toLowerCase()) && /^(?:javascript|vbscript|data):/i.test(value)) {
                problems.push(`${name}=${value.slice(0, 60)}: ${describe(e)}`);
            }
        }
        const inMath = e.closest('.katex, .katex-error') !== null;
        if (e.hasAttribute('style') && !inMath && !e.classList.contains('md-chunk')) {
            problems.push(`style: ${describe(e)}`);
        }
        const position = getComputedStyle(e).position;
        if (position === 'fixed' || position === 'sticky'
            || (position === 'absolute' && !inMath && !e.classList.contains('md-copy'))) {
            problems.push(`position ${position}: ${describe(e)}`);
        }
    }
    // Nothing of the document covers the page's margins.
    const points = [[2, 2], [innerWidth - 3, 2], [2, innerHeight - 3], [innerWidth - 3, innerHeight - 3]];
    for (const [x, y] of points) {
        const hit = document.elementFromPoint(x, y);
        if (hit && hit !== document.body && hit !== document.documentElement) {
            problems.push(`covers (${x}, ${y}): ${describe(hit)}`);
        }
    }
    if (document.documentElement.scrollWidth > document.documentElement.clientWidth) {
        problems.push(`page wider than its view: ${document.documentElement.scrollWidth}`);
    }
    if (Array.from(document.body.children, (c) => c.id).join() !== 'content') {
        problems.push(`body holds ${Array.from(document.body.children, describe).join(', ')}`);
    }
    return {
        elements: elements.length,
        problems,
        head: document.head.innerHTML,
        location: location.href,
        writes: window.__trap.writes.slice(),
        // An image that failed gave way to its alternative text, keeping its address.
        remoteImages: images.map((img) => img.src)
            .concat(Array.from(document.querySelectorAll('.md-image-unavailable'), (s) => s.dataset.src ?? ''))
            .filter((src) => /^https?:/i.test(src)),
    };
)";

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::filesystem::path corpusFolder() {
    return fixturePath(__FILE__, "../../renderer/test/hostile");
}

std::vector<std::filesystem::path> corpus() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(corpusFolder())) {
        if (entry.path().extension() == ".md") files.push_back(entry.path());
    }
    std::ranges::sort(files);
    return files;
}

std::string schemeOf(const std::string& uri) {
    const auto colon = uri.find(':');
    return colon == std::string::npos ? "" : uri.substr(0, colon);
}

// The host of an http or https address.
std::string hostOf(const std::string& uri) {
    const auto start = uri.find("://");
    if (start == std::string::npos) return "";
    const auto end = uri.find_first_of(":/?#", start + 3);
    return uri.substr(start + 3, end == std::string::npos ? std::string::npos : end - start - 3);
}

class HostileCorpusTest : public RendererPageTest {
protected:
    void SetUp() override {
        RendererPageTest::SetUp();
        if (HasFatalFailure()) return;
        page->addStartScript(trap);
        dialogHook = g_signal_add_emission_hook(
            g_signal_lookup("script-dialog", WEBKIT_TYPE_WEB_VIEW), 0,
            +[](GSignalInvocationHint*, guint, const GValue*, gpointer count) -> gboolean {
                ++*static_cast<int*>(count);
                return TRUE;
            },
            &dialogs, nullptr);
    }
    void TearDown() override {
        if (dialogHook != 0) {
            g_signal_remove_emission_hook(g_signal_lookup("script-dialog", WEBKIT_TYPE_WEB_VIEW),
                                          dialogHook);
        }
        RendererPageTest::TearDown();
    }

    // Touches the rendered document and checks what it left behind.
    void exerciseAndCheck(const std::string& name) {
        SCOPED_TRACE(name);
        json outcome = page->script(exercise, {{"settled", "no"}});
        if (outcome.value("unsettled", false)) {
            settleEnhancements();
            outcome = page->script(exercise, {{"settled", "yes"}});
        }
        ASSERT_TRUE(outcome.contains("problems")) << outcome.dump();
        EXPECT_GT(outcome["elements"].get<int>(), 0);
        EXPECT_EQ(outcome["problems"], json::array()) << outcome["problems"].dump(2);
        EXPECT_EQ(outcome["writes"], json::array()) << "a script of the document ran";
        EXPECT_EQ(outcome["head"], head) << "the document changed the page's head";
        EXPECT_EQ(outcome["location"], AppResourceSchemeHandler::entryURL);
        for (const auto& src : outcome["remoteImages"]) remoteImages.insert(src.get<std::string>());
    }

    gulong dialogHook = 0;
    int dialogs = 0;
    std::string head;
    std::set<std::string> remoteImages;  // every http(s) image the page showed
};

TEST_F(HostileCorpusTest, RunsNothingNavigatesNowhereAndLoadsOnlyWhatThePolicyAllows) {
    loadPage();
    // The trap is live: a write from the test itself is seen.
    EXPECT_EQ(page->script("window.__pwned = 'control'; return window.__trap.writes.splice(0);"),
              json({"control"}));
    head = page->script("return document.head.innerHTML;").get<std::string>();

    // A document with one remote image: such images load by design, are
    // counted, and reach no further than the local proxy.
    json reply = render("# Control\n\n![remote](https://images.test/control.png)\n");
    ASSERT_EQ(reply.value("type", ""), "rendered") << reply.dump();
    EXPECT_EQ(reply["payload"]["images"], json({{"local", 0}, {"remote", 1}, {"rejected", 0}}));
    exerciseAndCheck("control");
    EXPECT_TRUE(waitFor([&] {
        return std::ranges::count(sink.requests(), std::string("CONNECT images.test:443 HTTP/1.1"));
    }));

    const auto files = corpus();
    ASSERT_GE(files.size(), 8u) << corpusFolder();
    for (const auto& file : files) {
        reply = render(readText(file), {{"enhancements", {{"highlight", true}, {"math", true}, {"diagrams", true}}}});
        ASSERT_EQ(reply.value("type", ""), "rendered") << file << " " << reply.dump().substr(0, 500);
        exerciseAndCheck(file.filename().string());
    }

    // A hostile diagram result: cleaned, kept in the placeholder's shadow
    // root, and its one fine link reports like any other.
    const std::size_t before = page->messages().size();
    reply = render("# Diagram\n\n```mermaid\ngraph TD; A-->B\n```\n");
    ASSERT_EQ(reply.value("type", ""), "rendered") << reply.dump();
    const auto request = page->waitForEvent("diagramRequest", before);
    ASSERT_TRUE(request);
    expectEnvelope(*request, "diagramRequest");
    const std::string diagramID = (*request)["payload"]["diagramID"];
    EXPECT_EQ((*request)["payload"]["source"], "graph TD; A-->B\n");
    EXPECT_TRUE((*request)["payload"].contains("themeVariables"));
    const json applied = page->request(
        "diagramResult", {{"diagramID", diagramID}, {"svg", readText(corpusFolder() / "diagram-result.svg")}});
    expectEnvelope(applied, "diagramApplied");
    EXPECT_EQ(applied["payload"], json({{"diagramID", diagramID}, {"accepted", true}}));
    const json shadow = page->script(R"(
        const host = document.querySelector('#content [data-diagram]');
        const root = host.shadowRoot;
        const box = host.getBoundingClientRect();
        const article = document.querySelector('#content > article').getBoundingClientRect();
        return {
            svg: root.querySelectorAll('svg').length,
            sheet: Array.from(root.querySelectorAll('style'), (s) => s.textContent).join('\n'),
            position: getComputedStyle(host).position,
            inside: box.left >= article.left - 1 && box.right <= article.right + 1,
        };)");
    EXPECT_EQ(shadow["svg"], 1);
    EXPECT_EQ(shadow["sheet"].get<std::string>().find("evil.example"), std::string::npos);
    EXPECT_EQ(shadow["position"], "static");
    EXPECT_EQ(shadow["inside"], true);
    exerciseAndCheck("diagram-result.svg");
    const auto docsLink = page->waitForMessage(
        [](const json& m) {
            return m.value("type", "") == "openLink" &&
                   m["payload"].value("href", "") == "https://example.org/docs";
        },
        before);
    ASSERT_TRUE(docsLink);
    EXPECT_EQ((*docsLink)["payload"]["kind"], "external");
    const auto progress = page->waitForEvent("diagramsProgress", before);
    ASSERT_TRUE(progress);
    EXPECT_EQ((*progress)["payload"]["done"], 1);
    EXPECT_EQ((*progress)["payload"]["complete"], true);
    EXPECT_EQ(page->request("diagramResult", {{"diagramID", diagramID}, {"svg", "<svg/>"}})["payload"]
                  ["accepted"],
              false);

    // No script ran: no dialog, and the page posted only its own events.
    EXPECT_EQ(dialogs, 0);
    const std::set<std::string> events{"ready",          "layoutReport",     "activeHeading",
                                       "openLink",       "copyText",         "diagramRequest",
                                       "diagramsProgress", "anchorRestored"};
    for (const auto& message : page->messages()) {
        EXPECT_TRUE(events.contains(message.value("type", ""))) << message.dump().substr(0, 500);
        if (message.value("type", "") == "openLink") {
            const std::string href = message["payload"]["href"];
            EXPECT_FALSE(href.find("javascript:") != std::string::npos ||
                         href.find("vbscript:") != std::string::npos)
                << "a dangerous link survived: " << href;
        }
    }

    // Navigated nowhere.
    expectNoNavigationButTheEntryPage();

    // Loaded only what the policy allows: the page's own files (with the
    // chunks its worker imports on demand), this document's images, and
    // http(s) images the page showed and counted.
    const std::set<std::string> ownFiles{"index.html", "renderer.css", "renderer.js", "parse-worker.js"};
    const std::string app = "app-resource://renderer/";
    for (const auto& uri : page->resourceLoads()) {
        const std::string scheme = schemeOf(uri);
        if (scheme == "app-resource") {
            ASSERT_TRUE(uri.starts_with(app)) << uri;
            const std::string file = uri.substr(app.size());
            const auto inFolder = [&](std::string_view folder, std::string_view extension) {
                return file.starts_with(folder) && file.ends_with(extension) &&
                       file.find('/', folder.size()) == std::string::npos;
            };
            EXPECT_TRUE(ownFiles.contains(file) || inFolder("fonts/", ".woff2") ||
                        inFolder("chunks/", ".js"))
                << uri;
        } else if (scheme == "document-resource") {
            EXPECT_TRUE(uri.starts_with("document-resource://DOC-1/?path=")) << uri;
        } else if (scheme == "http" || scheme == "https") {
            EXPECT_TRUE(remoteImages.contains(uri)) << "not an image the page counted: " << uri;
        } else {
            ADD_FAILURE() << "load outside the policy: " << uri;
        }
    }
    // Both schemes' handlers saw only what the load watch saw.
    for (const auto& uri : page->appRequests()) {
        EXPECT_TRUE(std::ranges::count(page->resourceLoads(), uri)) << uri;
    }
    for (const auto& uri : page->documentRequests()) {
        EXPECT_TRUE(std::ranges::count(page->resourceLoads(), uri)) << uri;
    }
    // And the network saw only hosts of those images.
    std::set<std::string> hosts;
    for (const auto& uri : remoteImages) hosts.insert(hostOf(uri));
    for (const auto& line : sink.requests()) {
        const bool tunnel = line.starts_with("CONNECT ");
        const auto target = line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
        const std::string host = tunnel ? target.substr(0, target.find(':')) : hostOf(target);
        EXPECT_TRUE(hosts.contains(host)) << "network request: " << line;
    }

    // The watches are live: a navigation from outside the document is seen
    // (and refused).
    const std::size_t navigations = page->navigations().size();
    page->script("location.href = 'https://evil.example/control'; return true;");
    EXPECT_TRUE(waitFor([&] { return page->navigations().size() == navigations + 1; }));
    EXPECT_EQ(page->navigations().back().uri, "https://evil.example/control");
}

}  // namespace
}  // namespace larkspin::test
