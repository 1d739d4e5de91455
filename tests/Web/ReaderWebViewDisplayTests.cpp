// The reader web view and the two URL schemes against a real WebKitGTK web
// view under Xvfb, with a scripted fixture page in fixtures/dist.

#include <errno.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"
#include "Web/ReaderContextMenu.hpp"
#include "Web/ReaderWebView.hpp"
#include "Web/ResourceSchemes.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Protocol/SchemeTestSupport.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

// The window's file-path items, as the application gives them to every view.
constexpr const char* copyPathIdentifier = "Orvik.file.copyPath";
constexpr const char* revealIdentifier = "Orvik.file.revealInFinder";
std::vector<ReaderContextMenu::WindowItem> windowItems() {
    return {{"复制路径", "win.copy-file-path", copyPathIdentifier},
            {"在文件管理器中显示", "win.reveal-in-file-manager", revealIdentifier}};
}

using nlohmann::json;
const std::string entryURL(AppResourceSchemeHandler::entryURL);

json scriptResult(WebKitWebView* view, const std::string& body) {
    const test::ScriptOutcome outcome = test::callScript(view, body);
    EXPECT_TRUE(outcome.finished) << body;
    EXPECT_TRUE(outcome.ok) << body << ": " << outcome.error;
    if (!outcome.ok) return nullptr;
    return json::parse(outcome.json);
}

class ReaderWebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppLog::setRevealPrivateForTesting(true);
        schemes = ResourceSchemes::install(harness.context());
        view = ReaderWebView::create(harness.context(), windowItems());
        imageWorkers = std::make_shared<PooledResourceWorkers>("test.images", 2);
        appResources = AppResourceSchemeHandler::create(test::fixturePath(__FILE__, "fixtures/dist"),
                                                        std::make_shared<PooledResourceWorkers>("test", 1));
        documentResources = DocumentResourceSchemeHandler::create(imageWorkers);
        schemes->route(view.get(), appResources, documentResources);
        window = harness.show(view.get());
    }
    void TearDown() override { AppLog::setRevealPrivateForTesting(std::nullopt); }

    // The fixture is ready once its module script has run. WebKit may report
    // the load finished a moment before that (seen on a busy machine), so the
    // load's end alone is not enough.
    void loadEntryPage() {
        const test::LoadOutcome load = test::loadAndWait(view.get(), entryURL);
        ASSERT_TRUE(load.finished);
        ASSERT_FALSE(load.failed) << load.error;
        ASSERT_TRUE(test::waitFor([&] {
            const auto ran = test::callScript(view.get(), "return window.fixture !== undefined;");
            return ran.ok && ran.json == "true";
        })) << "the fixture's main.js never ran";
    }

    json loadImage(const std::string& url) {
        return scriptResult(view.get(),
                            "return await fixture.loadImage(" + json(url).dump() + ");");
    }

    test::LogCapture logs;
    test::WebViewHarness harness;
    std::shared_ptr<ResourceSchemes> schemes;
    GObjectPtr<WebKitWebView> view;
    std::shared_ptr<AppResourceSchemeHandler> appResources;
    std::shared_ptr<ResourceWorkers> imageWorkers;
    std::shared_ptr<DocumentResourceSchemeHandler> documentResources;
    GtkWindow* window = nullptr;
    test::TempDir dir;
};

TEST_F(ReaderWebViewTest, PageLoadsUnderTheExactPolicyWithItsModulesAndNoDialogs) {
    EXPECT_EQ(ResourceSchemes::install(harness.context()), schemes);  // once per context
    loadEntryPage();
    const json state = scriptResult(view.get(), R"(
        alert("hello");
        return {
            main: window.fixture !== undefined && window.fixture.mainRan,
            inlineScript: window.inlineScriptRan === true,
            inlineHandler: window.inlineHandlerRan === true,
            eval: fixture.evalAllowed(),
            fetch: await fixture.fetchAllowed("dyn.js"),
            secure: window.isSecureContext,
            origin: location.origin,
            imported: await fixture.importModule('./dyn.js'),
            worker: await fixture.workerAnswer(),
            refused: (await fixture.importModule('./gone.js')).ok,
            confirmed: confirm("sure?"),
            prompted: prompt("name?", "default"),
            opened: window.open("app-resource://renderer/index.html") !== null,
        };)");
    EXPECT_EQ(state, json::parse(R"({"main": true, "inlineScript": false, "inlineHandler": false,
        "eval": false, "fetch": false, "secure": true, "origin": "app-resource://renderer",
        "imported": {"ok": true, "value": 42}, "worker": {"ok": true, "value": "worker 42"},
        "refused": false, "confirmed": false, "prompted": null, "opened": false})"));
    EXPECT_TRUE(logs.contains("resources", "拒绝：不在清单 missing.png"));
    EXPECT_TRUE(logs.contains("resources", "拒绝：不在清单 gone.js"));

    // A web view the schemes were never routed for gets nothing.
    auto stranger = ReaderWebView::create(harness.context());
    harness.show(stranger.get());
    const test::LoadOutcome load = test::loadAndWait(stranger.get(), entryURL);
    EXPECT_TRUE(load.failed);
    EXPECT_EQ(load.errorCode, -1100) << load.error;
    EXPECT_TRUE(logs.contains("resources", "拒绝：该 web view 没有 app-resource 处理者"));
}

TEST_F(ReaderWebViewTest, ARefusedDocumentImageFailsAndReachesTheDocumentsCallback) {
    auto sys = std::make_shared<SysCalls>(realSysCalls());
    sys->open = [](const char*, int, mode_t) {
        errno = EACCES;
        return -1;
    };
    documentResources = DocumentResourceSchemeHandler::create(imageWorkers, sys);
    schemes->route(view.get(), nullptr, documentResources);
    const auto image = dir.write("locked.png", test::whitePng(1, 1));
    std::vector<std::string> denied;
    documentResources->setAccessDeniedCallback(
        [&](const std::string&, const std::string& path) { denied.push_back(path); });
    loadEntryPage();
    EXPECT_EQ(loadImage("document-resource://DOC-1/?path=" + image.string()), json({{"ok", false}}));
    EXPECT_EQ(denied, std::vector<std::string>{image.string()});
}

TEST_F(ReaderWebViewTest, ContextMenuLosesInertItemsAndEndsWithFilePathItems) {
    int activations[2] = {0, 0};
    GSimpleActionGroup* actions = g_simple_action_group_new();
    for (int i = 0; i < 2; ++i) {
        GSimpleAction* action = g_simple_action_new(i == 0 ? "copy-file-path" : "reveal-in-file-manager", nullptr);
        g_signal_connect(action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer count) {
                             ++*static_cast<int*>(count);
                         }),
                         &activations[i]);
        g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(action));
        g_object_unref(action);
    }
    gtk_widget_insert_action_group(GTK_WIDGET(window), "win", G_ACTION_GROUP(actions));
    g_object_unref(actions);

    constexpr int S = -1;  // a separator
    const auto entry = [](int action) {
        return action == S ? ContextMenuEntry{true, WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION, ""}
                           : ContextMenuEntry{false, WebKitContextMenuAction(action), ""};
    };
    const std::vector<ContextMenuEntry> ours{
        {false, WEBKIT_CONTEXT_MENU_ACTION_CUSTOM, std::string(copyPathIdentifier)},
        {false, WEBKIT_CONTEXT_MENU_ACTION_CUSTOM, std::string(revealIdentifier)}};
    const std::vector<std::pair<std::vector<int>, std::vector<int>>> cases = {
        {{WEBKIT_CONTEXT_MENU_ACTION_GO_BACK, WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD, S,
          WEBKIT_CONTEXT_MENU_ACTION_STOP, WEBKIT_CONTEXT_MENU_ACTION_RELOAD, S},
         {}},
        {{S, WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK, WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD, S, S,
          WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW, S, WEBKIT_CONTEXT_MENU_ACTION_COPY,
          WEBKIT_CONTEXT_MENU_ACTION_PASTE, S, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK},
         {WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD, S, WEBKIT_CONTEXT_MENU_ACTION_COPY,
          WEBKIT_CONTEXT_MENU_ACTION_PASTE, S}},
    };
    for (const auto& [given, kept] : cases) {
        WebKitContextMenu* menu = webkit_context_menu_new();
        for (int action : given) {
            webkit_context_menu_append(menu, action == S ? webkit_context_menu_item_new_separator()
                                                         : webkit_context_menu_item_new_from_stock_action(
                                                               WebKitContextMenuAction(action)));
        }
        gboolean handled = TRUE;
        g_signal_emit_by_name(view.get(), "context-menu", menu, nullptr, &handled);
        EXPECT_FALSE(handled);  // the edited menu is shown
        g_signal_emit_by_name(view.get(), "context-menu", menu, nullptr, &handled);  // again: no doubles
        std::vector<ContextMenuEntry> expected;
        for (int action : kept) expected.push_back(entry(action));
        expected.insert(expected.end(), ours.begin(), ours.end());
        EXPECT_EQ(ReaderContextMenu::entriesOf(menu), expected) << given.size();
        // Our items act through the window's actions of the document.
        for (guint i : {1u, 2u}) {
            auto* item = static_cast<WebKitContextMenuItem*>(
                g_list_nth_data(webkit_context_menu_get_items(menu), guint(expected.size()) - i));
            g_action_activate(webkit_context_menu_item_get_gaction(item), nullptr);
        }
        g_object_unref(menu);
    }
    EXPECT_EQ(activations[0], 2);
    EXPECT_EQ(activations[1], 2);
}

TEST_F(ReaderWebViewTest, AnswersForAPageOrAWebViewThatWentAwayAreHarmless) {
    auto manualWorkers = std::make_shared<test::ManualWorkers>();
    documentResources = DocumentResourceSchemeHandler::create(manualWorkers);
    schemes->route(view.get(), nullptr, documentResources);
    // Asks the page for a new image without waiting for it, until its read is queued.
    const auto requestImageAndHoldTheRead = [&](const std::string& name) {
        const std::string url = "document-resource://DOC-1/?path=" + dir.write(name, test::whitePng(2, 2)).string();
        ASSERT_EQ(scriptResult(view.get(), "fixture.loadImage(" + json(url).dump() + "); return true;"), true);
        ASSERT_TRUE(test::waitFor([&] { return manualWorkers->pending() == 1; }));
    };
    loadEntryPage();
    requestImageAndHoldTheRead("one.png");
    loadEntryPage();  // a new page: WebKit stops waiting for the old request
    manualWorkers->runAll();
    MainThread::drainForTesting();
    EXPECT_TRUE(logs.contains("resources", "one.png image/png"));  // answered, ignored
    EXPECT_EQ(scriptResult(view.get(), "return fixture.mainRan;"), true);

    requestImageAndHoldTheRead("two.png");
    WebKitWebView* raw = view.get();
    g_object_add_weak_pointer(G_OBJECT(raw), reinterpret_cast<gpointer*>(&raw));
    view.reset();
    harness.close(window);
    ASSERT_TRUE(test::waitFor([&] { return raw == nullptr; }));
    EXPECT_EQ(schemes->documentResources().handlerFor(raw), nullptr);
    manualWorkers->runAll();
    MainThread::drainForTesting();
    EXPECT_FALSE(logs.contains("resources", "two.png")) << "answered for a web view that is gone";
}

}  // namespace
}  // namespace larkspin
