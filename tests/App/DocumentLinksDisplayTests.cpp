// Links in a real document with the desktop's question (the launcher is a
// fake: nothing starts).

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "App/DocumentLinks.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Support/Display/MessageDialogs.hpp"
#include "Window/Widgets/DocumentPage.hpp"

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

class DocumentLinksDisplay : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        DesktopDocumentController::Dependencies dependencies = controllerDependencies();
        provideDocumentLinks(dependencies);
        EXPECT_TRUE(dependencies.linkLauncher) << "no desktop launcher";
        dependencies.linkLauncher = launcher;
        makeController(std::move(dependencies));
    }

    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
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
        page->readerController()->bridgeDidRequestOpenLink(
            *page->readerController()->bridge(), OpenLinkPayload{"report.txt", OpenLinkPayload::Kind::relative, {}});
        AdwMessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::waitFor([&] { return (dialog = test::openMessageDialog()) != nullptr; })) << "no question";
        EXPECT_EQ(GTK_ROOT(gtk_window_get_transient_for(GTK_WINDOW(dialog))), groupWindow);
        EXPECT_TRUE(launcher->launched.empty());
        test::pressMessageButton(dialog, answer);
        ASSERT_TRUE(test::waitFor([] { return test::openMessageDialog() == nullptr; }));
    }
    ASSERT_TRUE(test::waitFor([&] { return !launcher->launched.empty(); })) << "never handed on";
    std::unique_ptr<char, decltype(&g_free)> uri(g_filename_to_uri(report.c_str(), nullptr, nullptr), g_free);
    EXPECT_EQ(launcher->launched, std::vector<std::string>{uri.get()});
    EXPECT_EQ(controller->registry().size(), 1u) << "no document for a file handed on";
}

}  // namespace
}  // namespace larkspin
