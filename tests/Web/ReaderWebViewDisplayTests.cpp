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
#include "Protocol/AppResourceSchemeHandler.hpp"
#include "Protocol/DocumentResourceSchemeHandler.hpp"
#include "Web/Desktop/FilePathActions.hpp"
#include "Web/FilePathMenu.hpp"
#include "Web/ReaderContextMenu.hpp"
#include "Web/ReaderWebView.hpp"
#include "Web/ResourceSchemes.hpp"
#include "Protocol/ResourceWorkerPool.hpp"
#include "Web/WebKitSchemeTask.hpp"
#include "Protocol/SchemeTestSupport.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

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
        view = ReaderWebView::create(harness.context());
        appResources =
            AppResourceSchemeHandler::create(test::fixturePath(__FILE__, "fixtures/dist"));
        imageWorkers = std::make_shared<ResourceWorkerPool>("test.images", 2);
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

TEST_F(ReaderWebViewTest, PageLoadsUnderTheExactPolicy) {
    EXPECT_EQ(ResourceSchemes::install(harness.context()), schemes);  // once per context
    loadEntryPage();
    const json state = scriptResult(view.get(), R"(return {
        main: window.fixture !== undefined && window.fixture.mainRan,
        inlineScript: window.inlineScriptRan === true,
        inlineHandler: window.inlineHandlerRan === true,
        eval: fixture.evalAllowed(),
        fetch: await fixture.fetchAllowed("dyn.js"),
        secure: window.isSecureContext,
        origin: location.origin,
    };)");
    EXPECT_EQ(state["main"], true);
    EXPECT_EQ(state["inlineScript"], false);
    EXPECT_EQ(state["inlineHandler"], false);
    EXPECT_EQ(state["eval"], false);
    EXPECT_EQ(state["fetch"], false);  // connect-src 'none'
    EXPECT_EQ(state["secure"], true);
    EXPECT_EQ(state["origin"], "app-resource://renderer");
    EXPECT_TRUE(logs.contains("resources", "拒绝：不在清单 missing.png"));
}

TEST_F(ReaderWebViewTest, ModuleWorkersAndDynamicImportLoad) {
    loadEntryPage();
    const json imported =
        scriptResult(view.get(), "return await fixture.importModule('./dyn.js');");
    EXPECT_EQ(imported["ok"], true);
    EXPECT_EQ(imported["value"], 42);
    const json worker = scriptResult(view.get(), "return await fixture.workerAnswer();");
    EXPECT_EQ(worker["ok"], true) << worker.dump();
    EXPECT_EQ(worker["value"], "worker 42");

    const json refused =
        scriptResult(view.get(), "return await fixture.importModule('./gone.js');");
    EXPECT_EQ(refused["ok"], false);
    EXPECT_TRUE(logs.contains("resources", "拒绝：不在清单 gone.js"));
}

TEST_F(ReaderWebViewTest, DocumentImagesComeThroughTheirScheme) {
    dir.write("notes/readme.md", "# notes");
    dir.write("notes/img/pic.png", test::whitePng(3, 2));
    dir.write("notes/img/fake.png", "plain text pretending to be a picture");
    documentResources->setDocumentLocation(dir.path() / "notes/readme.md", "DOC-1");
    loadEntryPage();

    const json served = loadImage("document-resource://DOC-1/?path=img/pic.png");
    EXPECT_EQ(served["ok"], true);
    EXPECT_EQ(served["width"], 3);
    EXPECT_EQ(served["height"], 2);
    EXPECT_TRUE(documentResources->lastOutcome().starts_with("served "));

    EXPECT_EQ(loadImage("document-resource://DOC-1/?path=img/fake.png")["ok"], false);
    EXPECT_TRUE(documentResources->lastOutcome().ends_with(" unknownMagic"));
    EXPECT_EQ(loadImage("document-resource://OTHER/?path=img/pic.png")["ok"], false);
    EXPECT_TRUE(documentResources->lastOutcome().ends_with(" noDocumentLocation"));
    EXPECT_EQ(loadImage("document-resource://DOC-1/?path=img/pic.svg")["ok"], false);
    EXPECT_TRUE(documentResources->lastOutcome().ends_with(" extensionNotAllowed"));
}

TEST_F(ReaderWebViewTest, AccessDeniedReachesTheDocumentsCallback) {
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
        "DOC-1", [&](const std::string&, const std::string& path) { denied.push_back(path); });
    loadEntryPage();
    EXPECT_EQ(loadImage("document-resource://DOC-1/?path=" + image.string())["ok"], false);
    EXPECT_EQ(denied, std::vector<std::string>{image.string()});
}

TEST_F(ReaderWebViewTest, AWebViewWithoutRoutesIsRefused) {
    auto stranger = ReaderWebView::create(harness.context());
    harness.show(stranger.get());
    const test::LoadOutcome load = test::loadAndWait(stranger.get(), entryURL);
    EXPECT_TRUE(load.finished);
    EXPECT_TRUE(load.failed);
    EXPECT_EQ(load.errorCode, -1100) << load.error;
    EXPECT_TRUE(logs.contains("resources", "拒绝：该 web view 没有 app-resource 处理者"));
}

TEST_F(ReaderWebViewTest, ScriptDialogsAndNewWindowsAreRefused) {
    loadEntryPage();
    const json answers = scriptResult(view.get(), R"(
        alert("hello");
        return {
            confirmed: confirm("sure?"),
            prompted: prompt("name?", "default"),
            opened: window.open("app-resource://renderer/index.html") !== null,
        };)");
    EXPECT_EQ(answers["confirmed"], false);
    EXPECT_EQ(answers["prompted"], nullptr);
    EXPECT_EQ(answers["opened"], false);
}

TEST_F(ReaderWebViewTest, ContextMenuLosesInertItemsAndEndsWithFilePathItems) {
    int copies = 0;
    int reveals = 0;
    GSimpleActionGroup* actions = g_simple_action_group_new();
    const auto addAction = [&](const char* name, int* counter) {
        GSimpleAction* action = g_simple_action_new(name, nullptr);
        g_signal_connect(action, "activate",
                         G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer count) {
                             ++*static_cast<int*>(count);
                         }),
                         counter);
        g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(action));
        g_object_unref(action);
    };
    addAction("copy-file-path", &copies);
    addAction("reveal-in-file-manager", &reveals);
    gtk_widget_insert_action_group(GTK_WIDGET(window), "win", G_ACTION_GROUP(actions));
    g_object_unref(actions);

    WebKitContextMenu* menu = webkit_context_menu_new();
    for (auto action : {WEBKIT_CONTEXT_MENU_ACTION_GO_BACK, WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD,
                        WEBKIT_CONTEXT_MENU_ACTION_STOP, WEBKIT_CONTEXT_MENU_ACTION_RELOAD}) {
        webkit_context_menu_append(menu, webkit_context_menu_item_new_from_stock_action(action));
    }
    webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
    webkit_context_menu_append(menu, webkit_context_menu_item_new_from_stock_action(
                                         WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW));
    webkit_context_menu_append(menu, webkit_context_menu_item_new_from_stock_action(
                                         WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD));
    webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());

    gboolean handled = TRUE;
    g_signal_emit_by_name(view.get(), "context-menu", menu, nullptr, &handled);
    EXPECT_FALSE(handled);  // the edited menu is shown
    g_signal_emit_by_name(view.get(), "context-menu", menu, nullptr,
                          &handled);  // again: no doubles

    const std::vector<ContextMenuEntry> expected{
        {false, WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD, ""},
        {true, WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION, ""},
        {false, WEBKIT_CONTEXT_MENU_ACTION_CUSTOM, "Orvik.file.copyPath"},
        {false, WEBKIT_CONTEXT_MENU_ACTION_CUSTOM, "Orvik.file.revealInFinder"},
    };
    EXPECT_EQ(ReaderContextMenu::entriesOf(menu), expected);

    // The items act through the window's actions of the document.
    auto* copyItem = static_cast<WebKitContextMenuItem*>(
        g_list_nth_data(webkit_context_menu_get_items(menu), 2));
    auto* revealItem = static_cast<WebKitContextMenuItem*>(
        g_list_nth_data(webkit_context_menu_get_items(menu), 3));
    g_action_activate(webkit_context_menu_item_get_gaction(copyItem), nullptr);
    g_action_activate(webkit_context_menu_item_get_gaction(revealItem), nullptr);
    EXPECT_EQ(copies, 1);
    EXPECT_EQ(reveals, 1);
    g_object_unref(menu);

    // A menu of inert items only gets the pair without a separator.
    WebKitContextMenu* inert = webkit_context_menu_new();
    webkit_context_menu_append(
        inert, webkit_context_menu_item_new_from_stock_action(WEBKIT_CONTEXT_MENU_ACTION_RELOAD));
    ReaderWebView::prepareContextMenu(view.get(), inert);
    EXPECT_EQ(webkit_context_menu_get_n_items(inert), 2u);
    g_object_unref(inert);
}

TEST_F(ReaderWebViewTest, CopyFilePathPutsThePlainPathOnTheClipboard) {
    GdkClipboard* clipboard = gdk_display_get_clipboard(gdk_display_get_default());
    gdk_clipboard_set_text(clipboard, "before");
    EXPECT_FALSE(FilePathActions::copyFilePath(std::nullopt, "doc", clipboard));
    EXPECT_TRUE(FilePathActions::copyFilePath(std::filesystem::path("/tmp/my notes/./read me.md"),
                                              "doc", clipboard));
    EXPECT_TRUE(logs.contains("actions", "复制文件路径：doc=doc /tmp/my notes/read me.md"));

    struct Read {
        bool done = false;
        std::string text;
    } read;
    gdk_clipboard_read_text_async(
        clipboard, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            auto* read = static_cast<Read*>(data);
            char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr);
            read->text = text ? text : "";
            g_free(text);
            read->done = true;
        },
        &read);
    ASSERT_TRUE(test::waitFor([&] { return read.done; }));
    EXPECT_EQ(read.text, "/tmp/my notes/read me.md");
}

class ReaderWebViewTeardown : public ReaderWebViewTest {
protected:
    void SetUp() override {
        ReaderWebViewTest::SetUp();
        manualWorkers = std::make_shared<test::ManualWorkers>();
        documentResources = DocumentResourceSchemeHandler::create(manualWorkers);
        schemes->route(view.get(), nullptr, documentResources);
        image = dir.write("pic.png", test::whitePng(2, 2));
        imageURL = "document-resource://DOC-1/?path=" + image.string();
    }

    // Asks the page for the image without waiting for it, until its read is
    // queued.
    void requestImageAndHoldTheRead() {
        const json started = scriptResult(
            view.get(), "fixture.loadImage(" + json(imageURL).dump() + "); return true;");
        ASSERT_EQ(started, true);
        ASSERT_TRUE(test::waitFor([&] { return manualWorkers->pending() == 1; }));
    }

    std::shared_ptr<test::ManualWorkers> manualWorkers;
    std::filesystem::path image;
    std::string imageURL;
};

TEST_F(ReaderWebViewTeardown, AReadThatEndsAfterItsWebViewIsGoneIsDropped) {
    loadEntryPage();
    requestImageAndHoldTheRead();

    WebKitWebView* raw = view.get();
    g_object_add_weak_pointer(G_OBJECT(raw), reinterpret_cast<gpointer*>(&raw));
    view.reset();
    harness.close(window);
    ASSERT_TRUE(test::waitFor([&] { return raw == nullptr; }));
    EXPECT_EQ(schemes->documentResources().handlerFor(raw), nullptr);

    const std::string before = documentResources->lastOutcome();
    manualWorkers->runAll();
    MainThread::drainForTesting();
    EXPECT_EQ(documentResources->lastOutcome(), before);  // dropped without a trace
}

TEST_F(ReaderWebViewTeardown, AnAnswerToARequestOfAPageThatWentAwayIsHarmless) {
    loadEntryPage();
    requestImageAndHoldTheRead();
    loadEntryPage();  // a new page: WebKit stops waiting for the old request
    manualWorkers->runAll();
    MainThread::drainForTesting();
    EXPECT_TRUE(documentResources->lastOutcome().starts_with("served "));  // answered, ignored
    const json alive = scriptResult(view.get(), "return fixture.mainRan;");
    EXPECT_EQ(alive, true);
}

}  // namespace
}  // namespace larkspin
