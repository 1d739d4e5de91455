// Every kind of web view the program makes (a reader's, the spare, the
// diagram host) has the one hardened set of settings, read back from the
// live views; the factory knows its own spares.

#include <gtest/gtest.h>
#include <webkit/webkit.h>

#include <memory>
#include <string>
#include <vector>

#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Reader/ReaderTestSupport.hpp"
#include "Reader/Widgets/ReaderWebViewFactory.hpp"
#include "Reader/Widgets/SpareReaderWebView.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Web/DiagramHostWebView.hpp"

namespace larkspin {
namespace {

#if defined(LARKSPIN_DEBUG_ASSERTS)
constexpr bool developerExtras = true;
#else
constexpr bool developerExtras = false;
#endif

// The boolean settings of WebKitSettings and the value each view must have.
const std::vector<std::pair<const char*, bool>> expectedSettings = {
    {"enable-javascript", true},
    {"javascript-can-open-windows-automatically", false},
    {"javascript-can-access-clipboard", false},
    {"allow-modal-dialogs", false},
    {"enable-fullscreen", false},
    {"allow-file-access-from-file-urls", false},
    {"allow-universal-access-from-file-urls", false},
    {"allow-top-navigation-to-data-urls", false},
    {"enable-webgl", false},
    {"enable-webaudio", false},
    {"enable-media", false},
    {"enable-mediasource", false},
    {"enable-media-stream", false},
    {"enable-encrypted-media", false},
    {"enable-webrtc", false},
    {"enable-page-cache", false},
    {"enable-back-forward-navigation-gestures", false},
    {"enable-developer-extras", developerExtras},
};

void expectHardened(WebKitWebView* view) {
    ASSERT_NE(view, nullptr);
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    for (const auto& [name, expected] : expectedSettings) {
        gboolean value = !expected;
        g_object_get(settings, name, &value, nullptr);
        EXPECT_EQ(static_cast<bool>(value), expected) << name;
    }
}

TEST(ReaderWebViewFactoryDisplay, EveryKindOfWebViewHasTheHardenedSettings) {
    test::WebViewHarness harness;
    test::TempDir files;
    const auto workers = std::make_shared<PooledResourceWorkers>("test", 1);
    auto appResources = AppResourceSchemeHandler::create(files.path(), workers);
    ReaderWebViewFactory factory(harness.context(), {});

    {
        SCOPED_TRACE("reader");
        auto view = factory.makeWebView(appResources, DocumentResourceSchemeHandler::create(workers));
        expectHardened(view.get());
    }
    auto spare = factory.makeSpare(appResources, DocumentResourceSchemeHandler::create(workers));
    {
        SCOPED_TRACE("spare");
        SpareReaderWebView* made = factory.madeSpare(*spare);
        ASSERT_EQ(made, spare.get());
        expectHardened(made->webView());
        EXPECT_EQ(spare->bridgePort(), spare->bridgePort()) << "its port is made once";
    }
    {
        SCOPED_TRACE("diagram host");
        auto host = DiagramHostWebView::create(harness.context(), appResources);
        bool loadEnded = false;
        host->load([&](std::exception_ptr) { loadEnded = true; });
        expectHardened(host->webView());
        host->destroy();
        EXPECT_TRUE(test::runMainLoopUntil([&] { return loadEnded; }));
    }

    // Only a spare of this factory, alive, is one it adopts.
    test::FakeSpare foreign;
    EXPECT_EQ(factory.madeSpare(foreign), nullptr);
    auto other = factory.makeSpare(appResources, DocumentResourceSchemeHandler::create(workers));
    EXPECT_NE(factory.madeSpare(*other), nullptr);
    EXPECT_NE(factory.madeSpare(*other), factory.madeSpare(*spare));
}

}  // namespace
}  // namespace larkspin
