// The reader view with the real renderer page in a WebKitGTK web view under
// Xvfb: a document rendered end to end, appearance on computed styles, find
// and heading scroll, the status view and banner, a document image and a
// link click. Most readers stay hidden (never mapped, 0×0), as spare views
// and background tabs are: nothing may wait for a frame.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "Appearance/ThemeCatalog.hpp"
#include "Reader/ReaderView.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/ReaderWebViewFactory.hpp"
#include "Renderer/RendererPageTest.hpp"
#include "Support/Display/NetworkSink.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin::test {
namespace {

class ReaderViewDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        sink.routeDefaultNetworkSession();
        factory = std::make_unique<ReaderWebViewFactory>(harness.context());
        view = std::make_shared<ReaderView>(*factory);
        ReaderViewController::Dependencies dependencies;
        dependencies.host = view;
        dependencies.preferredLocalizations = [] { return std::vector<std::string>{"en"}; };
        dependencies.currentTheme = [] { return ThemeCatalog::theme(ThemeID::porcelain); };
        reader = ReaderViewController::create("DOC-1", std::move(dependencies));
        reader->onRendered = [this](const std::vector<BridgeHeading>& headings) {
            renderedHeadings.push_back(headings);
        };
    }
    void TearDown() override {
        if (window) gtk_window_destroy(window);
        reader.reset();
        view.reset();
        MainThread::drainForTesting();
    }

    void show() {
        window = GTK_WINDOW(gtk_window_new());
        gtk_window_set_default_size(window, 900, 700);
        gtk_window_set_child(window, view->widget());
        gtk_window_present(window);
    }
    // Loads the view and renders `text`; waits for the reply.
    void loadAndRender(const std::string& text) {
        reader->loadView();
        reader->render(text);
        ASSERT_TRUE(waitFor([&] { return !renderedHeadings.empty(); })) << "no rendered reply";
    }
    template <typename T>
    T await(Task<T> task) {
        auto outcome = startTask(std::move(task));
        EXPECT_TRUE(waitFor([&] { return outcome->finished; }));
        if (outcome->error) std::rethrow_exception(outcome->error);
        return std::move(*outcome->value);
    }
    nlohmann::json script(const std::string& body) {
        const ScriptOutcome outcome = callScript(view->webView(), body);
        EXPECT_TRUE(outcome.ok) << outcome.error;
        return nlohmann::json::parse(outcome.json, nullptr, false);
    }

    LogCapture logs;
    NetworkSink sink;
    WebViewHarness harness;
    TempDir dir;
    std::unique_ptr<ReaderWebViewFactory> factory;
    std::shared_ptr<ReaderView> view;
    std::shared_ptr<ReaderViewController> reader;
    std::vector<std::vector<BridgeHeading>> renderedHeadings;
    GtkWindow* window = nullptr;
};

TEST_F(ReaderViewDisplayTest, AHiddenReaderRendersADocumentAndHandsOverItsHeadings) {
    loadAndRender(sectionedDocument(40));
    const auto& headings = renderedHeadings.front();
    ASSERT_EQ(headings.size(), 41u);
    EXPECT_EQ(headings[0].text, "Guide");
    EXPECT_EQ(headings[0].level, 1);
    EXPECT_EQ(headings[40].text, "Section 40");
    EXPECT_EQ(headings[40].level, 2);
    EXPECT_EQ(reader->lastHeadings(), headings);
    EXPECT_TRUE(reader->pageHasContent());
    EXPECT_FALSE(gtk_widget_get_mapped(GTK_WIDGET(view->webView())));
    EXPECT_EQ(script("return document.querySelectorAll('#content h2').length;"), 40);
    EXPECT_EQ(std::string(webkit_web_view_get_uri(view->webView())),
              AppResourceSchemeHandler::entryURL);
}

TEST_F(ReaderViewDisplayTest, ThemeAndTypographyReachTheComputedStyles) {
    show();
    const auto graphite = ThemeCatalog::theme(ThemeID::graphite);
    // Pushed before the page is ready: the handshake sends them.
    spawn(reader->applyAppearance(graphite, 3, AccessibilityDisplayOptions{}));
    SetTypographyPayload typography;
    typography.fontSizePx = 20;
    startTask(reader->applyTypography(typography));
    loadAndRender("# Dark\n\nSome text.");
    ASSERT_TRUE(waitFor([&] { return reader->lastTypographyApplied().has_value(); }));
    const auto style = script(
        "const s = getComputedStyle(document.documentElement);"
        "return [s.backgroundColor, s.color, s.fontSize, s.colorScheme];");
    EXPECT_EQ(style, nlohmann::json({"rgb(25, 27, 32)", "rgb(229, 232, 239)", "20px", "dark"}));

    // A later change is sent at once.
    typography.fontSizePx = 18;
    const auto applied = await(reader->applyTypography(typography));
    ASSERT_TRUE(applied);
    EXPECT_EQ(applied->fontSizePx, 18);
    EXPECT_EQ(script("return getComputedStyle(document.documentElement).fontSize;"), "18px");
}

TEST_F(ReaderViewDisplayTest, FindsTextAndScrollsToHeadings) {
    loadAndRender(sectionedDocument(30));
    FindPayload query;
    query.query = "Paragraph two";
    query.restart = true;
    const auto found = await(reader->find(query));
    EXPECT_EQ(found.matchCount, 30);
    EXPECT_TRUE(found.found);
    const auto cleared = await(reader->clearFind());
    EXPECT_EQ(cleared.matchCount, 0);
    const std::string id = renderedHeadings.front()[20].id;
    EXPECT_TRUE(await(reader->scrollToHeading(id)).found);
    EXPECT_FALSE(await(reader->scrollToHeading("no-such-heading")).found);
    EXPECT_TRUE(logs.contains("bridge", "scrollToHeading：页面里没有 id="));
}

TEST_F(ReaderViewDisplayTest, StatusViewAndBannerShowAndHide) {
    show();
    loadAndRender("# Title\n\ntext");
    GtkWidget* web = GTK_WIDGET(view->webView());
    reader->showDocumentStatus({"文件 <太大> & 只读", "只显示前 1 MiB", std::string("# Title\n"),
                                std::string("完整渲染")});
    ASSERT_TRUE(view->statusView());
    EXPECT_FALSE(gtk_widget_get_visible(web));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(view->statusView()->titleLabel())), "文件 <太大> & 只读");
    EXPECT_TRUE(gtk_widget_get_visible(view->statusView()->actionButton()));
    reader->hideDocumentStatus();
    EXPECT_FALSE(view->statusView());
    EXPECT_TRUE(gtk_widget_get_visible(web));

    bool dismissed = false;
    reader->showBanner("图片 a&b.png 无权读取", "重试", {}, [&] { dismissed = true; });
    ASSERT_TRUE(view->bannerView());
    g_signal_emit_by_name(view->bannerView()->closeButton(), "clicked");
    EXPECT_TRUE(dismissed);
    EXPECT_TRUE(view->bannerView()) << "the banner stays until its owner hides it";
    ASSERT_TRUE(waitFor([&] {
        return reader->lastViewportInsetsApplied() && reader->lastViewportInsetsApplied()->top == 32;
    }));
    EXPECT_TRUE(waitFor([&] { return gtk_widget_get_height(view->bannerView()->widget()) > 0; }));
    EXPECT_EQ(gtk_widget_get_height(view->bannerView()->widget()), ResourceBannerView::height);
    reader->hideBanner();
    EXPECT_FALSE(view->bannerView());
    ASSERT_TRUE(waitFor([&] { return reader->lastViewportInsetsApplied()->top == 0; }));
}

TEST_F(ReaderViewDisplayTest, ADocumentImageComesThroughTheDocumentScheme) {
    {
        std::ofstream out(dir.path() / "pic.png", std::ios::binary);
        out << whitePng(4, 3);
    }
    show();  // images load lazily: only a shown page fetches them
    // Set before the reader has its scheme handler: it is kept for it.
    reader->setDocumentLocation(dir.path() / "doc.md");
    loadAndRender("# Pictures\n\n![a picture](pic.png)\n");
    ASSERT_TRUE(reader->lastImageSummary());
    EXPECT_EQ(reader->lastImageSummary()->local, 1);
    const auto loaded = script(
        "const img = document.querySelector('#content img');"
        "if (!img.complete) await new Promise((done) => { img.onload = img.onerror = done; });"
        "return [img.naturalWidth, img.naturalHeight];");
    EXPECT_EQ(loaded, nlohmann::json({4, 3})) << reader->documentResourceHandler()->lastOutcome();
}

TEST_F(ReaderViewDisplayTest, ALinkClickReachesTheOwnerAndNeverNavigates) {
    std::vector<OpenLinkPayload> links;
    reader->onOpenLink = [&](const OpenLinkPayload& link) { links.push_back(link); };
    loadAndRender("[away](https://example.com/page) and [near](other.md#part)\n");
    script("document.querySelectorAll('#content a').forEach((a) => a.click()); return 0;");
    ASSERT_TRUE(waitFor([&] { return links.size() == 2; }));
    EXPECT_EQ(links[0].href, "https://example.com/page");
    EXPECT_EQ(links[1].href, "other.md#part");
    // Nothing left the page: still the entry page, no navigation refused.
    EXPECT_EQ(std::string(webkit_web_view_get_uri(view->webView())),
              AppResourceSchemeHandler::entryURL);
    EXPECT_FALSE(logs.contains("bridge", "拦截导航"));
    EXPECT_TRUE(sink.requests().empty());
}

}  // namespace
}  // namespace larkspin::test
