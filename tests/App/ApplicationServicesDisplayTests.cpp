// The application's services as a test host builds them: every field of the
// reader's environment is filled, the renderer's files are walked once and
// served to each web view by a handler of its own, and a test host never
// prewarms. Documents opened over them write their drafts, show a status
// page in the theme in force, and stop rebuilding a tab whose web process
// keeps ending.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "App/ApplicationServices.hpp"
#include "Appearance/AppearanceController.hpp"
#include "Platform/Async/Clock.hpp"
#include "Reader/Widgets/DocumentStatusView.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/WebViewPrewarmer.hpp"
#include "Document/Document.hpp"
#include "Reader/RecordingOwner.hpp"
#include "Reader/WebViewWorkingSet.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/TempDir.hpp"
#include "Support/MainLoop.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin::test {
namespace {

TEST(ApplicationServicesTest, OneEnvironmentForEveryReaderAndNoSpareInATestHost) {
    WebViewHarness harness;
    {
        TempDir dir;
        UserDefaults defaults(dir.path() / "preferences.json");
        const auto center = NotificationCenter::create();
        ApplicationServices services(defaults, *center, {harness.context(), std::nullopt});
        const ReaderEnvironment environment = services.readerEnvironment();
        EXPECT_TRUE(environment.clock && environment.imageWorkers && environment.pasteboard &&
                    environment.preferredLocalizations &&
                    environment.currentTheme && environment.prewarmer && environment.workingSet &&
                    environment.webViewFactory == &services.webViewFactory());
        ASSERT_TRUE(environment.rendererFiles) << "the tests run from the build tree";
        EXPECT_EQ(environment.diagramService, services.diagramService());
        EXPECT_EQ(services.prewarmer()->state(), WebViewPrewarmer::State::disabled)
            << "the tests are a test host";
        services.startPrewarming();

        // Two readers, each with a handler of its own over the one manifest.
        std::vector<std::shared_ptr<ReaderViewController>> readers;
        std::vector<std::shared_ptr<ReaderView>> views;
        const auto owner = std::make_shared<RecordingOwner>();
        for (const char* id : {"A", "B"}) {
            views.push_back(std::make_shared<ReaderView>(*environment.webViewFactory));
            readers.push_back(ReaderViewController::create(id, {views.back(), environment, owner}));
            readers.back()->loadView();
        }
        EXPECT_TRUE(readers[0]->hasWebView() && readers[1]->hasWebView());
        EXPECT_THROW(ReaderViewController::create("D", {views.back(), environment, {}}),
                     std::invalid_argument)
            << "a reader without its owner";
        const auto sibling = environment.rendererFiles->sibling();
        EXPECT_NE(sibling, environment.rendererFiles);
        ASSERT_TRUE(test::runMainLoopUntil([&] { return sibling->hasManifest(); }));
        EXPECT_EQ(sibling->manifest(), environment.rendererFiles->manifest());
        EXPECT_TRUE(sibling->manifest().contains("index.html"));
        readers.clear();
        views.clear();
        MainThread::drainForTesting();
    }
    // A reader refuses an environment that would fall back to the desktop.
    ReaderEnvironment partial;
    const auto owner = std::make_shared<RecordingOwner>();
    EXPECT_THROW(ReaderViewController::create("C", {nullptr, partial, owner}), std::invalid_argument);
}

// Documents opened through the program's controller over the services the
// program makes, with a spare web view kept ready.
class ProgramReadersDisplay : public DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        DesktopDocumentController::Dependencies dependencies = controllerDependencies();
        dependencies.environment = services->readerEnvironment();
        controller = DesktopDocumentController::create(services->windowServices(), std::move(dependencies));
    }
    // The controller again, its readers on `readerClock`: the crash-loop
    // window is measured on a clock the test moves, whatever the load.
    void useReaderClock() {
        DesktopDocumentController::Dependencies dependencies = controllerDependencies();
        dependencies.environment = services->readerEnvironment();
        dependencies.environment.clock = &readerClock;
        controller = DesktopDocumentController::create(services->windowServices(), std::move(dependencies));
    }
    void TearDown() override {
        DocumentControllerDisplayTest::TearDown();
        services.reset();
        MainThread::drainForTesting();
    }
    Document& openRendered(const std::string& name) {
        const auto opened = await(controller->openDocument(dir.write(name, "# " + name + "\n\ntext\n"), true));
        auto* document = dynamic_cast<Document*>(opened.document.get());
        EXPECT_NE(document, nullptr);
        EXPECT_TRUE(waitFor([&] { return document && document->renderCount() >= 1; })) << "no render";
        return *document;
    }
    static const std::shared_ptr<ReaderViewController>& controllerOf(Document& document) {
        return dynamic_cast<DocumentPage*>(document.window())->readerController();
    }
    static WebKitWebView* webViewOf(Document& document) {
        return dynamic_cast<DocumentPage*>(document.window())->readerView()->webView();
    }

    ManualClock readerClock;
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    std::unique_ptr<ApplicationServices> services =
        std::make_unique<ApplicationServices>(defaults, *center, ApplicationServices::Options{harness.context(), true});
};

// One kill of every web process (pkill): the tab read rebuilds at once and
// only once, whatever its rebuild adopted; a hidden tab rebuilds when it is
// shown; the working set decides both and says so.
TEST_F(ProgramReadersDisplay, AKillOfEveryWebProcessRebuildsTheTabReadOnceAndTheOthersWhenShown) {
    Document& hidden = openRendered("hidden.md");
    Document& read = openRendered("read.md");
    services->startPrewarming();
    ASSERT_TRUE(waitFor([&] { return services->prewarmer()->state() == WebViewPrewarmer::State::ready; }));

    webkit_web_view_terminate_web_process(webViewOf(hidden));
    ASSERT_TRUE(waitFor([&] { return controllerOf(hidden)->processTerminationCount() == 1; }));
    EXPECT_TRUE(logs.contains("document", "Web 内容进程终止处置：action=rebuild count=1 mode=reading"));
    EXPECT_FALSE(controllerOf(hidden)->hasWebView()) << "a hidden tab waits until it is shown";

    // The read tab's process ends, its rebuild takes the spare, and the
    // spare's process ends with it.
    const int renders = read.renderCount();
    WebKitWebView* crashed = webViewOf(read);
    webkit_web_view_terminate_web_process(crashed);
    ASSERT_NE(webViewOf(read), crashed) << "rebuilt at once";
    ASSERT_EQ(services->prewarmer()->state(), WebViewPrewarmer::State::idle) << "with the spare";
    webkit_web_view_terminate_web_process(webViewOf(read));
    EXPECT_TRUE(waitFor([&] { return read.renderCount() > renders; })) << "rendered again";
    EXPECT_FALSE(controllerOf(read)->diagnostics().isInCrashLoop);
    EXPECT_FALSE(controllerOf(read)->isStatusShown());
    EXPECT_EQ(controllerOf(read)->processTerminationCount(), 1);

    hidden.showWindows();
    EXPECT_TRUE(waitFor([&] { return controllerOf(hidden)->hasWebView(); })) << "shown, it rebuilds";
    EXPECT_TRUE(logs.contains("document", "标签回到热工作集，重建 WKWebView：hidden.md"));
    EXPECT_TRUE(waitFor([&] { return hidden.renderCount() >= 2; })) << "rendered again";
}

// A tab whose web process ends again within the crash-loop window is not
// rebuilt by itself: it shows the crash-loop status until the user retries.
TEST_F(ProgramReadersDisplay, AWebProcessEndingTwiceInTheCrashLoopWindowShowsTheCrashLoopStatus) {
    useReaderClock();
    Document& document = openRendered("loop.md");
    const auto& reader = controllerOf(document);
    int renders = document.renderCount();
    webkit_web_view_terminate_web_process(webViewOf(document));
    ASSERT_TRUE(waitFor([&] { return document.renderCount() > renders; })) << "rebuilt after the first end";
    EXPECT_FALSE(reader->diagnostics().isInCrashLoop);

    readerClock.advance(std::chrono::seconds(1));
    webkit_web_view_terminate_web_process(webViewOf(document));
    ASSERT_TRUE(waitFor([&] { return reader->processTerminationCount() == 2; }));
    MainThread::drainForTesting();
    EXPECT_TRUE(logs.contains("document", "action=crashLoop count=2 mode=reading"));
    EXPECT_TRUE(reader->diagnostics().isInCrashLoop);
    EXPECT_TRUE(reader->isStatusShown()) << "the crash-loop status";
    EXPECT_FALSE(reader->hasWebView()) << "nothing rebuilt by itself";

    // Retry, the status page's button, rebuilds and renders.
    const DocumentStatusView* status = dynamic_cast<DocumentPage*>(document.window())->readerView()->statusView();
    ASSERT_NE(status, nullptr);
    renders = document.renderCount();
    g_signal_emit_by_name(status->actionButton(), "clicked");
    EXPECT_TRUE(waitFor([&] { return document.renderCount() > renders; })) << "rendered after the retry";
    EXPECT_FALSE(reader->isStatusShown());
}

// An edit to a document opened over the program's services reaches their
// recovery store as a draft.
TEST_F(ProgramReadersDisplay, AnEditedDocumentWritesItsDraftToTheProgramsRecoveryStore) {
    Document& document = openRendered("draft.md");
    const std::string edited = "# Edited " + document.documentID() + "\n";
    document.model().replaceAll(edited);
    bool written = false;
    for (int attempt = 0; attempt < 300 && !written; ++attempt) {
        for (const RecoveryDraft& draft : await(services->recoveryStore()->unresolvedDrafts())) {
            written = written || draft.content == edited;
        }
        if (!written) detail::turnUntil([] { return false; }, std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(written) << "no draft of the edit in " << services->recoveryStore()->directory();
}

// A status page shown under a dark theme (a file too large to render) takes
// the theme in force: light text on the dark canvas.
TEST_F(ProgramReadersDisplay, AStatusPageShownUnderADarkThemeIsDark) {
    services->appearance().select(AppearanceMode::dark);
    std::string text = "# Big\n\n";
    const std::string line(99, 'x');
    while (text.size() <= 21 * 1024 * 1024) text += line + "\n";
    const auto opened = await(controller->openDocument(dir.write("big.md", text), true));
    auto* document = dynamic_cast<Document*>(opened.document.get());
    ASSERT_NE(document, nullptr);
    ASSERT_TRUE(controllerOf(*document)->isStatusShown());
    const DocumentStatusView* status = dynamic_cast<DocumentPage*>(document->window())->readerView()->statusView();
    ASSERT_NE(status, nullptr);
    ASSERT_TRUE(status->theme());
    EXPECT_EQ(status->theme()->appearance, ThemeAppearance::dark) << "the theme in force";
    GdkRGBA title;
    gtk_style_context_get_color(gtk_widget_get_style_context(status->titleLabel()), &title);
    EXPECT_GT(0.2126 * title.red + 0.7152 * title.green + 0.0722 * title.blue, 0.5) << "light text";
}

}  // namespace
}  // namespace larkspin::test
