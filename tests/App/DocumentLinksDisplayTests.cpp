// Links in a real document with the desktop's question (the launcher is a
// fake: nothing starts).

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "App/DocumentLinks.hpp"
#include "Platform/UserDefaults.hpp"
#include "Reader/ReaderDisplaySupport.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {
namespace {

class RecordingLauncher final : public DefaultApplicationLauncher {
public:
    Task<Result> launch(std::string uri) override {
        launched.push_back(uri);
        co_return Result{true, {}};
    }
    std::vector<std::string> launched;
};

AdwMessageDialog* openDialog() {
    AdwMessageDialog* found = nullptr;
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels) && !found; ++i) {
        auto* window = static_cast<GObject*>(g_list_model_get_item(toplevels, i));
        if (ADW_IS_MESSAGE_DIALOG(window) && gtk_widget_get_visible(GTK_WIDGET(window)))
            found = ADW_MESSAGE_DIALOG(window);
        g_object_unref(window);
    }
    return found;
}

class DocumentLinksDisplay : public test::ReaderDisplayTest {
protected:
    void SetUp() override {
        ReaderDisplayTest::SetUp();
        DesktopDocumentController::Dependencies dependencies;
        ReaderEnvironment& environment = dependencies.environment;
        environment.clock = &Clock::system();
        environment.rendererFiles = rendererFiles;
        environment.preferredLocalizations = [] { return std::vector<std::string>{"en"}; };
        environment.currentTheme = [] { return ThemeCatalog::theme(ThemeID::porcelain); };
        environment.pasteboard = &pasteboardService;
        environment.webViewFactory = factory.get();
        dependencies.defaults = &defaults;
        dependencies.clock = &Clock::system();
        dependencies.sandboxed = false;
        provideDocumentLinks(dependencies);
        EXPECT_TRUE(dependencies.linkLauncher) << "no desktop launcher";
        dependencies.linkLauncher = launcher;
        controller = DesktopDocumentController::create(std::move(dependencies));
    }
    void TearDown() override {
        for (TabGroupWindow* group : TabGroupWindow::all()) gtk_window_destroy(group->window());
        EXPECT_TRUE(test::waitFor([] { return TabGroupWindow::all().empty(); }));
        MainThread::drainForTesting();
        controller.reset();
        MainThread::drainForTesting();
        ReaderDisplayTest::TearDown();
    }

    UserDefaults defaults{dir.path() / "preferences.json"};
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
    std::shared_ptr<DesktopDocumentController> controller;
};

// Another local file: the question on the document's window; only "打开"
// hands the file on.
TEST_F(DocumentLinksDisplay, AnotherFileIsHandedOnOnlyAfterTheQuestionOnTheDocumentsWindow) {
    const auto report = dir.write("report.txt", "figures\n");
    const auto path = dir.write("source.md", "# Source\n\n[report](report.txt)\n");
    const auto opened = await(controller->openDocument(path, true));
    auto* document = dynamic_cast<Document*>(opened.document.get());
    ASSERT_NE(document, nullptr);
    ASSERT_TRUE(test::waitFor([&] { return document->renderCount() >= 1; }));
    auto* page = dynamic_cast<DocumentPage*>(document->window());
    ASSERT_NE(page, nullptr);
    GtkRoot* groupWindow = gtk_widget_get_root(page->widget());

    for (const char* answer : {"cancel", "open"}) {
        SCOPED_TRACE(answer);
        document->reader()->onOpenLink(OpenLinkPayload{"report.txt", OpenLinkPayload::Kind::relative, {}});
        AdwMessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::waitFor([&] { return (dialog = openDialog()) != nullptr; })) << "no question";
        EXPECT_EQ(GTK_ROOT(gtk_window_get_transient_for(GTK_WINDOW(dialog))), groupWindow);
        EXPECT_TRUE(launcher->launched.empty());
        adw_message_dialog_response(dialog, answer);
        gtk_window_close(GTK_WINDOW(dialog));
        ASSERT_TRUE(test::waitFor([] { return openDialog() == nullptr; }));
    }
    ASSERT_TRUE(test::waitFor([&] { return !launcher->launched.empty(); })) << "never handed on";
    std::unique_ptr<char, decltype(&g_free)> uri(g_filename_to_uri(report.c_str(), nullptr, nullptr), g_free);
    EXPECT_EQ(launcher->launched, std::vector<std::string>{uri.get()});
    EXPECT_EQ(controller->registry().size(), 1u) << "no document for a file handed on";
}

}  // namespace
}  // namespace larkspin
