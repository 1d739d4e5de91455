#pragma once

// The fixture of the renderer page's tests in a real WebKitGTK web view: the
// built page (renderer/dist) served by the app-resource handler under its
// content security policy, document images by the document-resource handler
// from a temporary folder, and every http and https load sent to a local
// sink instead of the network.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <source_location>
#include <stdexcept>
#include <string>
#include <vector>

#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Support/Display/NetworkSink.hpp"
#include "Support/Display/RendererPage.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin::test {

using nlohmann::json;

inline bool isUpperCaseUUID(const json& value) {
    static const std::regex pattern("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
    return value.is_string() && std::regex_match(value.get<std::string>(), pattern);
}

// An envelope as the protocol has it: exactly the eight keys, with their
// types, and the given type.
inline void expectEnvelope(const json& message, const std::string& type) {
    ASSERT_TRUE(message.is_object()) << message.dump();
    EXPECT_EQ(message.size(), 8u) << message.dump();
    EXPECT_EQ(message.value("protocolVersion", json()), 1) << message.dump();
    for (const char* key : {"messageID", "viewSessionID", "documentID", "type"}) {
        EXPECT_TRUE(message.contains(key) && message[key].is_string()) << key << " " << message.dump();
    }
    for (const char* key : {"sourceRevision", "renderGeneration"}) {
        EXPECT_TRUE(message.contains(key) && message[key].is_number_integer())
            << key << " " << message.dump();
    }
    EXPECT_TRUE(message.contains("payload") && message["payload"].is_object()) << message.dump();
    EXPECT_EQ(message.value("type", ""), type) << message.dump().substr(0, 2000);
}

// A Markdown document of `sections` sections under one title: "## Section n",
// two paragraphs, and every fifth section a list and a code block.
inline std::string sectionedDocument(int sections) {
    std::string text = "# Guide\n\nThe guide begins here.\n\n";
    for (int n = 1; n <= sections; ++n) {
        const std::string number = std::to_string(n);
        text += "## Section " + number + "\n\n";
        text += "Paragraph one of section " + number +
                " holds enough words to wrap over a couple of lines in a narrow window, "
                "so that every section is a little taller than a single line of text.\n\n";
        text += "Paragraph two of section " + number + " says *something* about **it**.\n\n";
        if (n % 5 == 0) {
            text += "- first point of " + number + "\n- second point\n\n";
            text += "```c\nint section" + number + "(void) { return " + number + "; }\n```\n\n";
        }
    }
    return text;
}

// Runs before the page's own scripts: any write to window.__pwned is kept.
inline constexpr const char* trap = R"(
    (() => {
        const writes = [];
        Object.defineProperty(window, '__pwned', {
            configurable: false,
            get() { return undefined; },
            set(value) { writes.push(String(value)); },
        });
        Object.defineProperty(window, '__trap', { configurable: false, value: { writes } });
    })();
)";

class RendererPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        sink.routeDefaultNetworkSession();
        appResources = AppResourceSchemeHandler::createForRenderer(
            std::make_shared<PooledResourceWorkers>("test.renderer", 1));
        ASSERT_TRUE(appResources) << "the renderer page is not built: run scripts/build-renderer.sh";
        imageWorkers = std::make_shared<PooledResourceWorkers>("test.images", 2);
        documentResources = DocumentResourceSchemeHandler::create(imageWorkers);
        documentResources->setDocumentLocation(dir.path() / "doc.md");
        page = std::make_unique<RendererPage>(harness.context(), appResources, documentResources);
    }

    void TearDown() override { page.reset(); }

    // Loads the page, shown in a window or not, and waits for its "ready";
    // without it the test ends here (the exception).
    void loadPage(bool shown = true, std::source_location location = std::source_location::current()) {
        if (shown) window = harness.show(page->view());
        const LoadOutcome load = page->load(std::string(AppResourceSchemeHandler::entryURL), location);
        if (!load.finished || load.failed) {
            throw std::runtime_error("the page did not load at " + waits::where(location) + ": " + load.error);
        }
        if (!page->waitForEvent("ready", 0, webTimeout, location)) {
            throw std::runtime_error("the page did not post ready at " + waits::where(location));
        }
    }

    json render(const std::string& source, json extra = json::object()) {
        json payload = {{"source", source}, {"language", "en"}};
        payload.update(extra);
        return page->request("render", std::move(payload));
    }

    // Highlighting and math come after "rendered": waits (within a bound)
    // until the worker has sent them all, then has a search put in place
    // what still waits for its blocks to come near the screen.
    void settleEnhancements() {
        const json any = page->script(R"(
            const article = document.querySelector('#content > article.md-doc');
            const limit = performance.now() + 5000;  // an upper bound, not a delay
            while (article?.enhancementsComing && performance.now() < limit) {
                await new Promise((done) => setTimeout(done, 10));
            }
            return article?.enhancementsComing !== undefined;
        )");
        if (any != true) return;
        page->request("find", {{"query", "x"}, {"direction", "next"}, {"caseSensitive", false}, {"restart", true}});
        page->request("clearFind");
    }

    // Only the loaded page was ever navigated to.
    void expectNoNavigationButTheEntryPage() {
        ASSERT_FALSE(page->navigations().empty());
        for (std::size_t i = 0; i < page->navigations().size(); ++i) {
            const auto& navigation = page->navigations()[i];
            EXPECT_EQ(i, 0u) << "navigation " << navigation.decision << " to " << navigation.uri;
            EXPECT_EQ(navigation.uri, AppResourceSchemeHandler::entryURL);
        }
    }

    LogCapture logs;  // keeps the handlers' log lines off the test output
    NetworkSink sink;
    WebViewHarness harness;
    TempDir dir;
    std::shared_ptr<AppResourceSchemeHandler> appResources;
    std::shared_ptr<ResourceWorkers> imageWorkers;
    std::shared_ptr<DocumentResourceSchemeHandler> documentResources;
    std::unique_ptr<RendererPage> page;
    GtkWindow* window = nullptr;
};

}  // namespace larkspin::test
