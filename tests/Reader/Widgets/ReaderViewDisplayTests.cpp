// The reader view with the real renderer page in a WebKitGTK web view under
// Xvfb. Each test loads the page once and checks several things: a hidden
// reader (render, heading scroll, links, refused navigation and panels); a
// shown one (a document image, status view and banner); a claimed spare
// with a diagram, and the reading position across a release and a crash.
// Hidden readers are never mapped (0×0), as spares and background tabs are:
// nothing may wait for a frame.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Reader/ReaderDisplaySupport.hpp"
#include "Reader/Widgets/ResourceBannerView.hpp"
#include "Reader/Widgets/SpareReaderWebView.hpp"
#include "Renderer/RendererPageTest.hpp"
#include "Web/DiagramRenderServices.hpp"

namespace larkspin::test {
namespace {

using ReaderViewDisplayTest = ReaderDisplayTest;
using nlohmann::json;

TEST_F(ReaderViewDisplayTest, AHiddenReaderRendersFindsScrollsAndNeverLeavesItsPage) {
    const std::vector<OpenLinkPayload>& links = owner->links;
    makeReader();
    render(sectionedDocument(40) + "[away](https://example.com/page) and [near](other.md#part)\n");
    const auto& headings = rendered.front();
    ASSERT_EQ(headings.size(), 41u);
    EXPECT_EQ(headings[0].text + "/" + headings[40].text, "Guide/Section 40");
    EXPECT_EQ(reader->lastHeadings(), headings);
    EXPECT_FALSE(gtk_widget_get_mapped(GTK_WIDGET(view->webView())));

    // Heading scroll and a clear, through the link opener's and the find bar's seams.
    LinkReader& linkReader = *reader;
    EXPECT_TRUE(await(linkReader.scrollToHeading(headings[20].id)).found);
    EXPECT_FALSE(await(linkReader.scrollToHeading("no-such-heading")).found);
    EXPECT_EQ(await(static_cast<FindTarget&>(*reader).clearFind()).matchCount, 0);

    // Links reach the owner; navigations and panels change nothing.
    script("document.querySelectorAll('#content a').forEach((a) => a.click()); return 0;");
    ASSERT_TRUE(waitFor([&] { return links.size() == 2; }));
    EXPECT_EQ(links[0].href + " " + links[1].href, "https://example.com/page other.md#part");
    script("location.href = 'app-resource://renderer/index.html?x=1'; return 0;");
    script("location.assign('https://example.com/'); return 0;");
    script("alert('hi'); return [confirm('sure?'), prompt('name?')];");
    ASSERT_TRUE(waitFor([&] { return reader->diagnostics().alertCount == 3; }));
    EXPECT_TRUE(logs.contains("bridge", "拦截导航（"));
    EXPECT_TRUE(logs.contains("bridge", "https://example.com/"));
    EXPECT_EQ(std::string(webkit_web_view_get_uri(view->webView())), AppResourceSchemeHandler::entryURL);
    EXPECT_EQ(script("return document.querySelectorAll('#content h2').length;"), 40);
    EXPECT_TRUE(sink.requests().empty());
}

TEST_F(ReaderViewDisplayTest, AShownReaderShowsADocumentImageAndItsOverlays) {
    dir.write("pic.png", whitePng(4, 3));
    show();  // images load lazily: only a shown page fetches them
    makeReader();
    reader->setDocumentLocation(dir.path() / "doc.md");  // before the reader has its scheme handler
    render("# Pictures\n\n![a picture](pic.png)\n");
    EXPECT_EQ(reader->diagnostics().lastImageSummary->local, 1);
    EXPECT_EQ(script("const img = document.querySelector('#content img');"
                     "if (!img.complete) await new Promise((done) => { img.onload = img.onerror = done; });"
                     "return [img.naturalWidth, img.naturalHeight];"),
              json({4, 3}));

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
    g_signal_emit_by_name(view->bannerView()->closeButton(), "clicked");
    EXPECT_TRUE(dismissed);
    EXPECT_TRUE(view->bannerView()) << "the banner stays until its owner hides it";
    // Above the page, which it pushes down; nothing covers the page, so the
    // page is told of no inset.
    ASSERT_TRUE(waitFor([&] { return reader->diagnostics().lastViewportInsetsApplied.has_value(); }));
    EXPECT_EQ(reader->diagnostics().lastViewportInsetsApplied->top, 0);
    EXPECT_TRUE(waitFor([&] { return gtk_widget_get_height(view->bannerView()->widget()) > 0; }));
    EXPECT_EQ(gtk_widget_get_height(view->bannerView()->widget()), ResourceBannerView::height);
    graphene_rect_t page;
    ASSERT_TRUE(waitFor([&] {
        return gtk_widget_compute_bounds(web, view->widget(), &page) && page.origin.y == ResourceBannerView::height;
    }));
    EXPECT_EQ(page.size.height + ResourceBannerView::height, gtk_widget_get_height(view->widget()));
    reader->hideBanner();
    EXPECT_FALSE(view->bannerView());
    EXPECT_TRUE(waitFor([&] { return gtk_widget_compute_bounds(web, view->widget(), &page) && page.origin.y == 0; }));
}

// The banner's buttons may outlive it while their parent is still held: a
// click then reaches no handler of the banner that is gone.
TEST(ResourceBannerViewDisplayTest, ButtonsThatOutliveTheBannerCallNothing) {
    int calls = 0;
    auto banner = std::make_unique<ResourceBannerView>();
    banner->configure("Message", "Action", [&] { ++calls; }, [&] { ++calls; });
    GtkWidget* root = GTK_WIDGET(g_object_ref(banner->widget()));
    GtkWidget* action = banner->actionButton();
    GtkWidget* close = banner->closeButton();
    g_signal_emit_by_name(action, "clicked");
    EXPECT_EQ(calls, 1);
    banner.reset();
    g_signal_emit_by_name(action, "clicked");
    g_signal_emit_by_name(close, "clicked");
    EXPECT_EQ(calls, 1);
    g_object_unref(root);
}

// A reader opened into a ready spare renders (a diagram too) without a
// second entry load; scrolled half-way, it comes back at the same heading
// after it gave its web view back and after its web process ended.
TEST_F(ReaderViewDisplayTest, ASpareOpensAtOnceAndThePositionSurvivesARebuildAndACrash) {
    int entryLoads = 0;
    ManualClock clock;  // the spare's 2 s ready time-out never runs out on a busy machine
    WebViewPrewarmer::Dependencies parts;
    parts.clock = &clock;
    parts.rendererFiles = rendererFiles;
    parts.imageWorkers = imageWorkers;
    parts.makeWebView = [&](auto appResources, auto documentResources) {
        auto spare = factory->makeSpare(std::move(appResources), std::move(documentResources));
        g_signal_connect(std::static_pointer_cast<SpareReaderWebView>(spare)->webView(), "load-changed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer count) {
                             if (event == WEBKIT_LOAD_STARTED) ++*static_cast<int*>(count);
                         }),
                         &entryLoads);
        return spare;
    };
    prewarmer = WebViewPrewarmer::create(true, parts);
    prewarmer->schedule();
    ASSERT_TRUE(waitFor([&] { return prewarmer->state() == WebViewPrewarmer::State::ready; }));
    show();
    makeReader(DiagramRenderServices::make(harness.context(), rendererFiles->sibling()));
    render("```mermaid\ngraph TD\n  A[Start] --> B[End]\n```\n\n" + sectionedDocument(60));
    EXPECT_TRUE(reader->diagnostics().firstScreenMarks.usedPrewarmed);
    EXPECT_EQ(entryLoads, 1);
    int readyEvents = 0;
    for (const auto& record : logs.records()) readyEvents += record.message.starts_with("收到 ready");
    EXPECT_EQ(readyEvents, 1) << "the page said ready once, before it was claimed";
    EXPECT_EQ(std::string(webkit_web_view_get_uri(view->webView())), AppResourceSchemeHandler::entryURL);
    ASSERT_TRUE(waitFor([&] { return reader->diagnostics().lastDiagramsProgress && reader->diagnostics().lastDiagramsProgress->isComplete(); }));
    EXPECT_EQ(script("const host = document.querySelector('#content [data-state]');"
                     "return [host.dataset.state, !!host.shadowRoot?.querySelector('svg')];"),
              json({"done", true}));
    clock.advance(WebViewPrewarmer::afterFirstRenderDelay);
    EXPECT_TRUE(waitFor([&] { return prewarmer->state() != WebViewPrewarmer::State::idle; }))
        << "restocked after the first reply";

    script("const root = document.scrollingElement; root.scrollTop = (root.scrollHeight - innerHeight) / 2;");
    const auto before = await(reader->captureReadingAnchor());
    ASSERT_TRUE(before && !before->headingPath.empty() && before->scrollTop > 1000);
    // Where the page is, once it has restored the anchor in a new web view.
    const auto expectSamePlace = [&] {
        const auto after = await(reader->captureReadingAnchor());
        ASSERT_TRUE(after);
        EXPECT_EQ(after->blockId, before->blockId);
        EXPECT_EQ(after->headingPath, before->headingPath);
    };
    ASSERT_TRUE(await(reader->releaseWebView()));
    EXPECT_FALSE(view->webView());
    ASSERT_TRUE(reader->ensureWebView());
    ASSERT_TRUE(waitFor([&] { return reader->diagnostics().lastAnchorRestored.has_value(); }));
    expectSamePlace();
    WebKitWebView* crashed = view->webView();
    webkit_web_view_terminate_web_process(crashed);
    ASSERT_TRUE(waitFor([&] { return reader->diagnostics().lastRecoveryStrategy.has_value(); }));
    EXPECT_NE(view->webView(), crashed);
    EXPECT_TRUE(logs.contains("bridge", "Web 内容进程终止：reason=terminatedByAPI"));
    expectSamePlace();
    EXPECT_FALSE(reader->diagnostics().isInCrashLoop);
}

// A window that hides and gives its reader's web view back while the page
// has the keyboard focus: the view (whose web process is its own) is
// finalised at once, not when the window is shown again. The next view mounted takes the focus back.
TEST_F(ReaderViewDisplayTest, AReleasedViewWithTheFocusEndsWhileItsWindowStaysHidden) {
    show();
    render("# Focus\n\nText.\n");
    WebKitWebView* released = view->webView();
    view->focusPage();
    ASSERT_EQ(gtk_window_get_focus(window), GTK_WIDGET(released));
    gtk_widget_set_visible(GTK_WIDGET(window), FALSE);
    GWeakRef watch;
    g_weak_ref_init(&watch, released);

    ASSERT_TRUE(await(reader->releaseWebView()));
    EXPECT_TRUE(waitFor([&] {
        gpointer alive = g_weak_ref_get(&watch);
        if (alive) g_object_unref(alive);
        return alive == nullptr;
    })) << "the hidden window still holds the released web view";
    g_weak_ref_clear(&watch);
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window)));
    EXPECT_EQ(gtk_window_get_focus(window), nullptr);

    ASSERT_TRUE(reader->ensureWebView());
    EXPECT_EQ(gtk_window_get_focus(window), GTK_WIDGET(view->webView()));
}

}  // namespace
}  // namespace larkspin::test
