#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/UserDefaults.hpp"
#include "Reader/ReaderDisplaySupport.hpp"
#include "Window/Desktop/DesktopDocumentController.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {
namespace {

// Documents opened from real files through the program's controller, shown
// in tabs of group windows over the real renderer page.
class DesktopDocumentControllerDisplay : public test::ReaderDisplayTest {
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
        controller = DesktopDocumentController::create(std::move(dependencies));
    }
    void TearDown() override {
        for (TabGroupWindow* group : TabGroupWindow::all()) gtk_window_destroy(group->window());
        EXPECT_TRUE(test::waitFor([] { return TabGroupWindow::all().empty(); }))
            << "a group window outlived the test";
        MainThread::drainForTesting();
        controller.reset();
        MainThread::drainForTesting();
        ReaderDisplayTest::TearDown();
    }

    DocumentController::Opened open(const std::filesystem::path& path) {
        return await(controller->openDocument(path, true));
    }
    static DocumentPage* pageOf(Document& document) {
        return dynamic_cast<DocumentPage*>(document.window());
    }
    static std::string pageText(DocumentPage& page) {
        const test::ScriptOutcome outcome =
            test::callScript(page.readerView()->webView(), "return document.body.innerText;");
        EXPECT_TRUE(outcome.ok) << outcome.error;
        return outcome.json;
    }

    UserDefaults defaults{dir.path() / "preferences.json"};
    std::shared_ptr<DesktopDocumentController> controller;
};

TEST_F(DesktopDocumentControllerDisplay, AnOpenedFileRendersInATabAndOpeningItAgainSelectsIt) {
    const auto alphaPath = dir.write("alpha.md", "# Alpha heading\n\nfirst body\n");
    const auto betaPath = dir.write("beta.md", "# Beta heading\n\nsecond body\n");

    const auto alpha = open(alphaPath);
    ASSERT_TRUE(alpha.document);
    EXPECT_FALSE(alpha.alreadyOpen);
    auto* alphaDocument = dynamic_cast<Document*>(alpha.document.get());
    ASSERT_NE(alphaDocument, nullptr);
    ASSERT_TRUE(test::waitFor([&] { return alphaDocument->renderCount() >= 1; })) << "no render";
    DocumentPage* alphaPage = pageOf(*alphaDocument);
    ASSERT_NE(alphaPage, nullptr);
    EXPECT_NE(pageText(*alphaPage).find("first body"), std::string::npos);
    EXPECT_EQ(alphaPage->outline().rebuildCount(), 1) << "the outline got the headings";
    ASSERT_EQ(TabGroupWindow::all().size(), 1u);
    TabGroupWindow& group = *TabGroupWindow::all().front();
    EXPECT_STREQ(gtk_window_get_title(group.window()), "alpha.md");

    // A second file joins the same group window and is selected.
    const auto beta = open(betaPath);
    ASSERT_TRUE(beta.document);
    EXPECT_FALSE(beta.alreadyOpen);
    EXPECT_EQ(TabGroupWindow::all().size(), 1u);
    EXPECT_EQ(group.pages().size(), 2u);
    EXPECT_EQ(group.selectedPage(), pageOf(*dynamic_cast<Document*>(beta.document.get())));

    // The first file again, by another path: its tab comes forward, no new
    // document, no new page.
    const auto again = open(dir / "." / "sub" / ".." / "alpha.md");
    EXPECT_TRUE(again.alreadyOpen);
    EXPECT_EQ(again.document, alpha.document);
    EXPECT_EQ(controller->registry().size(), 2u);
    EXPECT_EQ(group.pages().size(), 2u);
    EXPECT_EQ(group.selectedPage(), alphaPage);

    // Through a hard link: the same file by device and inode.
    const auto link = dir / "alpha-link.md";
    ASSERT_EQ(::link(alphaPath.c_str(), link.c_str()), 0);
    const auto linked = open(link);
    EXPECT_TRUE(linked.alreadyOpen);
    EXPECT_EQ(linked.document, alpha.document);
    EXPECT_EQ(controller->registry().size(), 2u);

    // Closing the tab closes the document, which leaves the registry.
    AdwTabPage* tab = adw_tab_view_get_page(group.tabView(), alphaPage->widget());
    adw_tab_view_close_page(group.tabView(), tab);
    ASSERT_TRUE(test::waitFor([&] { return controller->registry().size() == 1; }));
    EXPECT_TRUE(alphaDocument->isClosing());
}

TEST_F(DesktopDocumentControllerDisplay, PlacedPagesGoIntoTheirGroupInOrderWithTheChosenSelection) {
    std::vector<std::shared_ptr<OpenedDocument>> documents;
    for (const char* name : {"one.md", "two.md", "three.md"}) {
        const auto opened = await(controller->openDocument(dir.write(name, "# Heading\n"), false));
        ASSERT_TRUE(opened.document);
        documents.push_back(opened.document);
    }
    EXPECT_TRUE(TabGroupWindow::all().empty()) << "opened without display: no page yet";

    // Another window is frontmost: placed pages still go where they are told.
    TabGroupWindow& other = TabGroupWindow::create(nullptr);
    gtk_window_present(other.window());
    TabGroupWindow& group = TabGroupWindow::create(nullptr);
    controller->placePage(*documents[0], group, false);
    controller->placePage(*documents[1], group, true);
    controller->placePage(*documents[2], group, false);
    controller->placePage(*documents[1], group, false);  // has its page: nothing

    ASSERT_EQ(group.pages().size(), 3u);
    for (std::size_t index = 0; index < documents.size(); ++index) {
        EXPECT_EQ(&group.pages()[index]->document(), documents[index].get()) << index;
    }
    EXPECT_EQ(group.selectedPage(), group.pages()[1]);
    EXPECT_TRUE(other.pages().empty());
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(group.window()))) << "placing presents nothing";
    gtk_window_destroy(group.window());
}

TEST_F(DesktopDocumentControllerDisplay, AFileOverTwentyMebibytesShowsItsPreviewAndRendersNothing) {
    std::string text = "# Big\n\n";
    const std::string line(99, 'x');
    while (text.size() <= 21 * 1024 * 1024) text += line + "\n";
    const auto path = dir.write("big.md", text);
    const auto opened = open(path);
    auto* document = dynamic_cast<Document*>(opened.document.get());
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->loaded().tier, DocumentSizeTier::restricted);
    EXPECT_TRUE(document->isReadOnly());
    ASSERT_NE(document->reader(), nullptr);
    EXPECT_TRUE(document->reader()->isStatusShown());
    EXPECT_EQ(document->reader()->renderRevision(), 0) << "the text never reaches the page";
}

}  // namespace
}  // namespace larkspin
