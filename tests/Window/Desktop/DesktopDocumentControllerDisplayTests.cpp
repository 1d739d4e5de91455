#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Document/RecoveryLaunch.hpp"
#include "Reader/Widgets/DocumentStatusView.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Reader/WebViewWorkingSet.hpp"
#include "Document/StandardizedPath.hpp"
#include "Platform/Files/FileBookmark.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Support/Display/MessageDialogs.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin {
namespace {

// Documents opened from real files through the program's controller, shown
// in tabs of group windows over the real renderer page.
class DesktopDocumentControllerDisplay : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        pageServices.recoveryStore = store;
        makeController(controllerDependencies());
    }
    void TearDown() override {
        // A failure shows what the documents logged.
        if (HasFailure()) {
            for (const auto& record : logs.records())
                std::cerr << record.category << ": " << record.message << "\n";
        }
        DocumentControllerDisplayTest::TearDown();
    }

    DocumentOpener::Opened open(const std::filesystem::path& path) {
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

    Document& openRendered(const std::filesystem::path& path) {
        const auto opened = open(path);
        auto* document = dynamic_cast<Document*>(opened.document.get());
        EXPECT_NE(document, nullptr);
        EXPECT_TRUE(test::waitFor([&] { return document && document->renderCount() >= 1; }))
            << "no render";
        return *document;
    }
    static double scrollTop(DocumentPage& page) {
        const test::ScriptOutcome outcome = test::callScript(
            page.readerView()->webView(), "return document.scrollingElement.scrollTop;");
        EXPECT_TRUE(outcome.ok) << outcome.error;
        return outcome.ok ? std::stod(outcome.json) : -1;
    }
    static std::string fileText(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Another program's write, in place.
    static void writeInPlace(const std::filesystem::path& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }

    std::shared_ptr<RecoveryStore> store = std::make_shared<RecoveryStore>(dir.path() / "Recovery");
};

std::string longText(const std::string& last) {
    std::string text = "# Long\n\n";
    for (int i = 0; i < 200; ++i) text += "Paragraph " + std::to_string(i) + " of the long file.\n\n";
    return text + last + "\n";
}

TEST_F(DesktopDocumentControllerDisplay, AnOpenedFileRendersInATabAndOpeningItAgainSelectsIt) {
    const auto alphaPath = dir.write("alpha.md", "# Alpha heading\n\nfirst body\n");
    const auto betaPath = dir.write("beta.md", "# Beta heading\n\nsecond body\n");
    AppLog::setRevealPrivateForTesting(true);

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
    ASSERT_EQ(pageServices.tabGroups.all().size(), 1u);
    TabGroupWindow& group = *pageServices.tabGroups.all().front();
    EXPECT_STREQ(gtk_window_get_title(group.window()), "alpha.md");

    // A second file joins the same group window and is selected.
    const auto beta = open(betaPath);
    ASSERT_TRUE(beta.document);
    EXPECT_FALSE(beta.alreadyOpen);
    EXPECT_EQ(pageServices.tabGroups.all().size(), 1u);
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
    // Each open is logged as asked and as done, with the number of documents
    // before and after; the shown pages say how they joined the window.
    EXPECT_TRUE(logs.contains("document", "打开请求 alpha.md：已打开=false 打开前文档数=0"));
    EXPECT_TRUE(logs.contains("document", "打开完成 alpha.md：documentWasAlreadyOpen=false 打开后文档数=1"));
    EXPECT_TRUE(logs.contains("document", "打开请求 alpha.md：已打开=true 打开前文档数=2"));
    EXPECT_TRUE(logs.contains("document", "打开完成 alpha.md：documentWasAlreadyOpen=true 打开后文档数=2"));
    EXPECT_TRUE(logs.contains("document", "alpha.md 窗口已显示，显式并入标签组=false，所在标签组含 1 个标签"));
    EXPECT_TRUE(logs.contains("document", "beta.md 窗口已显示，显式并入标签组=true，所在标签组含 2 个标签"));

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

// A file joins an open document only when it is the file that document
// shows now: by path, or by device and inode of the document's current file.
// Files a document showed before, and identities recorded before another
// file took its path, match nothing.
TEST_F(DesktopDocumentControllerDisplay, AFileJoinsOnlyTheDocumentWhoseFileItIsNow) {
    namespace fs = std::filesystem;
    const auto textOf = [](const std::shared_ptr<OpenedDocument>& opened) {
        auto* document = dynamic_cast<Document*>(opened.get());
        return document ? document->model().sourceText() : std::string();
    };
    const auto shows = [&](Document& document, const std::string& text) {
        return test::waitFor([&] { return document.model().sourceText() == text; });
    };

    // A backup rotation: the old file under a new name, a new file at the
    // path, which the tab shows. The backup opens as itself, in a tab of its
    // own, both once the tab shows the new file and before it has seen it.
    const auto p = dir.write("p.md", "# P version 1\n");
    Document& current = openRendered(p);
    for (const std::string round : {"2", "3"}) {
        SCOPED_TRACE("version " + round);
        const fs::path backup = dir / ("p.bak" + round + ".md");
        const std::string before = current.model().sourceText();
        fs::rename(p, backup);
        writeInPlace(p, "# P version " + round + "\n");
        if (round == "2") {
            ASSERT_TRUE(shows(current, "# P version 2\n"));
        }
        const auto opened = open(backup);
        EXPECT_FALSE(opened.alreadyOpen);
        EXPECT_NE(opened.document.get(), &current);
        EXPECT_EQ(textOf(opened.document), before);
        // The registry learns which file the tab shows (checked against the
        // path in the next round all the same).
        ASSERT_TRUE(test::waitFor([&] {
            return controller->registry().find(dir / "another name.md", readFileIdentity(p)).get() == &current;
        }));
    }

    // A link retargeted: the link's tab shows the new target, which joins
    // it; the old target opens as itself.
    const auto x1 = dir.write("x1.md", "# X one\n");
    const auto x2 = dir.write("x2.md", "# X two\n");
    fs::create_symlink("x1.md", dir / "link.md");
    Document& linked = openRendered(dir / "link.md");
    fs::create_symlink("x2.md", dir / "link.tmp");
    fs::rename(dir / "link.tmp", dir / "link.md");
    ASSERT_TRUE(shows(linked, "# X two\n"));
    ASSERT_TRUE(test::waitFor([&] {
        return controller->registry().find(standardizedPath(x2), readFileIdentity(x2)).get() == &linked;
    })) << "the registry never learnt the link's new file";
    const auto second = open(x2);
    EXPECT_TRUE(second.alreadyOpen);
    EXPECT_EQ(second.document.get(), &linked);
    const auto first = open(x1);
    EXPECT_FALSE(first.alreadyOpen);
    EXPECT_EQ(textOf(first.document), "# X one\n");
}

// A build deletes a tab's file; its inode number goes to a new, unrelated
// file (as the file system does, here in the same folder). That file opens
// as itself.
TEST_F(DesktopDocumentControllerDisplay, AFileGivenTheInodeNumberOfATabsEarlierFileOpensAsItself) {
    namespace fs = std::filesystem;
    const auto generated = dir.write("out/gen2.md", "# Generation 1\n");
    Document& generations = openRendered(generated);
    const auto inode = readFileIdentity(generated);
    ASSERT_TRUE(inode);
    fs::remove(generated);
    ASSERT_TRUE(test::waitFor([&] { return generations.model().isMissing(); }));
    std::optional<fs::path> reused;
    for (int i = 0; i < 400 && !reused; ++i) {
        // (The watch lets go of the file on a queue of its own.)
        test::detail::turnUntil([] { return false; }, std::chrono::milliseconds(10));
        const auto candidate = dir.write("out/n" + std::to_string(i) + ".md", "# Unrelated\n");
        if (readFileIdentity(candidate) == inode) reused = candidate;
    }
    if (!reused) GTEST_SKIP() << "the file system gave the inode number to no new file";
    const auto unrelated = open(*reused);
    EXPECT_FALSE(unrelated.alreadyOpen);
    auto* document = dynamic_cast<Document*>(unrelated.document.get());
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->model().sourceText(), "# Unrelated\n");
}

// A window closed with its tabs closes their documents: the file opens again
// afresh, in a window, and renders.
TEST_F(DesktopDocumentControllerDisplay, AFileWhoseWindowWasClosedOpensAgainInAWindow) {
    const auto keptPath = dir.write("kept.md", "# Kept\n");
    const auto closedPath = dir.write("closed.md", "# Closed\n");
    openRendered(keptPath);
    Document& closed = openRendered(closedPath);
    ASSERT_NE(pageOf(closed), nullptr);
    TabGroupWindow& first = *pageServices.tabGroups.all().front();
    TabGroupWindow& own = first.tearOff(*pageOf(closed));
    ASSERT_EQ(pageServices.tabGroups.all().size(), 2u);

    gtk_window_destroy(own.window());
    EXPECT_TRUE(test::waitFor([&] { return controller->registry().size() == 1; })) << "the document stayed open";
    const auto again = open(closedPath);
    EXPECT_FALSE(again.alreadyOpen);
    auto* reopened = dynamic_cast<Document*>(again.document.get());
    ASSERT_NE(reopened, nullptr);
    ASSERT_NE(pageOf(*reopened), nullptr);
    EXPECT_NE(gtk_widget_get_root(pageOf(*reopened)->widget()), nullptr) << "a page in no window";
    EXPECT_TRUE(test::waitFor([&] { return reopened->renderCount() >= 1; })) << "no render";
}

// Two opens of one file at once: both read it, the second to finish finds
// the first registered and gives its document up. One tab, one document, and
// it is the registered one.
TEST_F(DesktopDocumentControllerDisplay, TheSameFileOpenedTwiceAtOnceMakesOneTab) {
    const auto path = dir.write("twice.md", "# Twice\n\nbody\n");
    auto first = test::startTask(controller->openDocument(path, true));
    auto second = test::startTask(controller->openDocument(dir / "." / "twice.md", true));
    ASSERT_TRUE(test::waitFor([&] { return first->finished && second->finished; }));
    ASSERT_FALSE(first->error);
    ASSERT_FALSE(second->error);
    EXPECT_EQ(first->value->document, second->value->document);
    EXPECT_NE(first->value->alreadyOpen, second->value->alreadyOpen) << "exactly one of them made it";
    EXPECT_EQ(controller->registry().size(), 1u);
    EXPECT_EQ(controller->registry().find(standardizedPath(path)), first->value->document);
    ASSERT_EQ(pageServices.tabGroups.all().size(), 1u);
    EXPECT_EQ(pageServices.tabGroups.all().front()->pages().size(), 1u);
    auto* document = dynamic_cast<Document*>(first->value->document.get());
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(pageOf(*document), pageServices.tabGroups.all().front()->pages().front());
}

// The first page of a window the controller makes starts its web view before
// the window exists, so that the page loads while the window is built; a page
// joining that window later gets its web view when it shows.
TEST_F(DesktopDocumentControllerDisplay, TheFirstPageOfANewWindowHasItsWebViewBeforeTheWindow) {
    struct Probe {
        DesktopDocumentController* controller = nullptr;
        int windowsAdded = 0;
        int pagesWithWebView = 0;
    } probe{controller.get()};
    GListModel* toplevels = gtk_window_get_toplevels();
    const gulong handler = g_signal_connect(
        toplevels, "items-changed",
        G_CALLBACK(+[](GListModel*, guint, guint, guint added, gpointer data) {
            auto* seen = static_cast<Probe*>(data);
            if (added == 0) return;
            ++seen->windowsAdded;
            for (const auto& document : seen->controller->documents()) {
                auto* page = dynamic_cast<DocumentPage*>(document->window());
                if (page && page->readerView()->webView()) ++seen->pagesWithWebView;
            }
        }),
        &probe);
    Document& first = openRendered(dir.write("first.md", "# First\n"));
    g_signal_handler_disconnect(toplevels, handler);
    EXPECT_EQ(probe.windowsAdded, 1);
    EXPECT_EQ(probe.pagesWithWebView, 1) << "the web view came only after the window";
    ASSERT_NE(pageOf(first), nullptr);

    // The second page goes into the same window and renders once shown.
    Document& second = openRendered(dir.write("second.md", "# Second\n"));
    ASSERT_EQ(pageServices.tabGroups.all().size(), 1u);
    EXPECT_EQ(pageServices.tabGroups.all().front()->selectedPage(), pageOf(second));
}

TEST_F(DesktopDocumentControllerDisplay, PlacedPagesGoIntoTheirGroupInOrderWithTheChosenSelection) {
    std::vector<std::shared_ptr<OpenedDocument>> documents;
    for (const char* name : {"one.md", "two.md", "three.md"}) {
        const auto opened = await(controller->openDocument(dir.write(name, "# Heading\n"), false));
        ASSERT_TRUE(opened.document);
        documents.push_back(opened.document);
    }
    EXPECT_TRUE(pageServices.tabGroups.all().empty()) << "opened without display: no page yet";

    // Another window is frontmost: placed pages still go where they are told.
    TabGroupWindow& other = TabGroupWindow::create(pageServices.tabGroups, nullptr, pageServices.sessionChanges);
    gtk_window_present(other.window());
    TabGroupWindow& group = TabGroupWindow::create(pageServices.tabGroups, nullptr, pageServices.sessionChanges);
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
    ASSERT_NE(pageOf(*document), nullptr);
    const auto& reader = pageOf(*document)->readerController();
    EXPECT_TRUE(reader->isStatusShown());
    EXPECT_EQ(reader->renderRevision(), 0) << "the text never reaches the page";
}

// A folder opened as a document shows what it is, across the whole page: no
// empty outline column beside it, in a window wide enough for one.
TEST_F(DesktopDocumentControllerDisplay, AFolderShowsItsStatusPageWithoutAnOutlineBesideIt) {
    std::filesystem::create_directory(dir.path() / "notes");
    auto* document = dynamic_cast<Document*>(open(dir.path() / "notes").document.get());
    ASSERT_NE(document, nullptr);
    ASSERT_NE(pageOf(*document), nullptr);
    DocumentPage& page = *pageOf(*document);
    EXPECT_TRUE(page.readerController()->isStatusShown());
    ASSERT_TRUE(test::waitFor([&] { return page.windowWidth() >= 900; })) << "a wide window";
    EXPECT_FALSE(page.isSidebarShown());
}

// A file too large to render that another program then writes small is
// read again and rendered: its status page goes.
TEST_F(DesktopDocumentControllerDisplay, AFileThatWasTooLargeAndThenReadsNormallyIsRenderedAgain) {
    std::string text = "# Big\n\n";
    const std::string line(99, 'x');
    while (text.size() <= 21 * 1024 * 1024) text += line + "\n";
    const auto path = dir.write("shrinks.md", text);
    auto* document = dynamic_cast<Document*>(open(path).document.get());
    ASSERT_NE(document, nullptr);
    ASSERT_NE(pageOf(*document), nullptr);
    const auto& reader = pageOf(*document)->readerController();
    ASSERT_TRUE(reader->isStatusShown());
    DocumentPage& page = *pageOf(*document);
    ASSERT_TRUE(test::waitFor([&] { return page.windowWidth() >= 900; })) << "a wide window";
    EXPECT_FALSE(page.isSidebarShown()) << "no outline beside the status page";

    writeInPlace(path, "# Small again\n\nread normally\n");
    ASSERT_TRUE(test::waitFor([&] { return document->renderCount() >= 1; })) << "rendered once read normally";
    EXPECT_FALSE(reader->isStatusShown()) << "the status page went";
    EXPECT_TRUE(page.isSidebarShown()) << "the outline came back with the page";
    EXPECT_FALSE(pageOf(*document)->readerView()->statusView());
    EXPECT_NE(pageText(*pageOf(*document)).find("read normally"), std::string::npos);
}

// The text read is held once: the model took the loader's text, and the
// reader renders that same text, not a copy.
TEST_F(DesktopDocumentControllerDisplay, AnOpenedTextIsHeldOnceByTheModelAndItsReader) {
    const auto path = dir.write("one.md", "# One\n\n" + std::string(1000, 'x') + "\n");
    auto* document = dynamic_cast<Document*>(open(path).document.get());
    ASSERT_NE(document, nullptr);
    ASSERT_NE(pageOf(*document), nullptr);
    EXPECT_TRUE(document->loaded().source.empty());
    EXPECT_EQ(document->model().sourceText().size(), 1008u);
    EXPECT_EQ(pageOf(*document)->readerController()->source().get(), &document->model().sourceText());
}

// A file of one 21 MiB line: the preview's text view gets lines it lays out
// a little at a time (a line of a megabyte blocked the main loop for a
// second when shown and at every resize).
TEST_F(DesktopDocumentControllerDisplay, AOneLineFileOverTwentyMebibytesIsPreviewedInShortLines) {
    const auto path = dir.write("line.md", std::string(21 * 1024 * 1024, 'x'));
    auto* document = dynamic_cast<Document*>(open(path).document.get());
    ASSERT_NE(document, nullptr);
    DocumentPage* page = pageOf(*document);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(page->readerController()->isStatusShown());
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(page->readerView()->statusView()->previewText());
    EXPECT_EQ(gtk_text_buffer_get_char_count(buffer), 1024 * 1024 + gtk_text_buffer_get_line_count(buffer) - 1);
    GtkTextIter line;
    gtk_text_buffer_get_start_iter(buffer, &line);
    int longest = 0;
    do {
        longest = std::max(longest, gtk_text_iter_get_chars_in_line(&line));
    } while (gtk_text_iter_forward_line(&line));
    EXPECT_LE(longest, static_cast<int>(restrictedPreviewLineBytes) + 1);
}

TEST_F(DesktopDocumentControllerDisplay, AnExternalEditShowsInThePageKeepingTheReadingPosition) {
    const auto path = dir.write("long.md", longText("The end as first written."));
    Document& document = openRendered(path);
    DocumentPage* page = pageOf(document);
    ASSERT_NE(page, nullptr);
    // The page's fonts in place first: the position is compared in pixels.
    ASSERT_TRUE(test::waitFor([&] {
        return test::callScript(page->readerView()->webView(), "return document.fonts.status;").json ==
               "\"loaded\"";
    }));
    test::callScript(page->readerView()->webView(), "window.scrollTo(0, 1500); return 0;");
    ASSERT_TRUE(test::waitFor([&] { return std::abs(scrollTop(*page) - 1500) < 1; }))
        << "the page did not scroll";
    const double before = scrollTop(*page);
    const int renders = document.renderCount();

    writeInPlace(path, longText("The end as written by another program."));
    ASSERT_TRUE(test::waitFor([&] {
        return document.renderCount() > renders &&
               test::callScript(page->readerView()->webView(), "return document.body.textContent;")
                       .json.find("another program") != std::string::npos;
    })) << "the external edit never showed";
    EXPECT_FALSE(document.isEdited());
    EXPECT_NEAR(scrollTop(*page), before, 4) << "the reading position moved";
}

// Each render the page answers fills the page's outline and tells the
// document how it went (its log counts the headings), the first and the one
// after another program's edit alike.
TEST_F(DesktopDocumentControllerDisplay, EachRenderFillsTheOutlineAndReachesTheDocument) {
    const auto path = dir.write("outline.md", "# One\n\n## Two\n\ntext\n\n# Three\n");
    Document& document = openRendered(path);
    DocumentPage* page = pageOf(document);
    ASSERT_NE(page, nullptr);
    const auto outlined = [&] {
        std::vector<std::string> texts;
        for (const TOCNode& node : page->outline().outline().tree().nodes) texts.push_back(node.heading.text);
        return texts;
    };
    EXPECT_EQ(outlined(), (std::vector<std::string>{"One", "Two", "Three"}));
    EXPECT_TRUE(logs.contains("document", "渲染完成：3 个标题"));

    const int renders = document.renderCount();
    writeInPlace(path, "# One\n\n## Two\n\n### Two and a half\n\n# Three\n\n# Four\n");
    ASSERT_TRUE(test::waitFor([&] { return document.renderCount() > renders; })) << "no second render";
    EXPECT_EQ(outlined(), (std::vector<std::string>{"One", "Two", "Two and a half", "Three", "Four"}));
    EXPECT_TRUE(logs.contains("document", "渲染完成：5 个标题"));
}

TEST_F(DesktopDocumentControllerDisplay, TheSaveCommandWritesTheEditedModel) {
    const auto path = dir.write("notes.md", "# Notes\n\nfirst\n");
    Document& document = openRendered(path);
    ASSERT_TRUE(document.model().replaceAll("# Notes\n\nsecond\n"));
    ASSERT_TRUE(document.isEdited());
    ASSERT_TRUE(controller->canPerform(KeyDocumentCommand::save));
    controller->perform(KeyDocumentCommand::save);
    ASSERT_TRUE(test::waitFor([&] { return !document.isEdited(); })) << "never saved";
    EXPECT_EQ(fileText(path), "# Notes\n\nsecond\n");
    EXPECT_EQ(controller->registry().size(), 1u);
}

// A tab with unsaved text closed, answering the real question each way.
TEST_F(DesktopDocumentControllerDisplay, ClosingAnEditedTabDoesWhatTheAnswerSays) {
    struct Case {
        const char* answer;
        bool closes;
        bool written;
    };
    const std::vector<Case> cases{
        {"save", true, true},
        {"discard", true, false},
        {"cancel", false, false},
    };
    const auto otherPath = dir.write("other.md", "# Other\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        const std::string original = "# Edited\n\nas on disk\n";
        const auto path = dir.write(std::string("edited-") + c.answer + ".md", original);
        Document& document = openRendered(path);
        DocumentPage* page = pageOf(document);
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(document.model().replaceAll("# Edited\n\nunsaved\n"));
        // Another tab is selected: the question selects the edited one.
        Document& other = openRendered(otherPath);
        const std::size_t before = controller->registry().size();
        TabGroupWindow& group = *pageServices.tabGroups.all().front();
        ASSERT_EQ(group.selectedPage(), pageOf(other));

        adw_tab_view_close_page(group.tabView(), adw_tab_view_get_page(group.tabView(), page->widget()));
        AdwMessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::waitFor([&] { return (dialog = test::openMessageDialog()) != nullptr; })) << "no question";
        EXPECT_EQ(group.selectedPage(), page);
        test::pressMessageButton(dialog, c.answer);
        ASSERT_TRUE(test::waitFor([] { return test::openMessageDialog() == nullptr; }));

        if (c.closes) {
            ASSERT_TRUE(test::waitFor([&] { return controller->registry().size() == before - 1; }))
                << "the tab stayed";
            EXPECT_EQ(fileText(path), c.written ? "# Edited\n\nunsaved\n" : original);
            // Its draft, if one was written, is resolved: nothing to restore.
            EXPECT_TRUE(test::waitFor([&] { return await(store->unresolvedDrafts()).empty(); }));
        } else {
            // Nothing happens later either: give the main loop a few turns.
            for (int i = 0; i < 20; ++i) MainThread::turnMainLoop(std::chrono::milliseconds(10));
            EXPECT_EQ(controller->registry().size(), before);
            EXPECT_EQ(group.selectedPage(), page);
            EXPECT_TRUE(document.isEdited());
            EXPECT_EQ(fileText(path), original);
        }
    }
}

// A draft whose file changed since it was taken goes to an untitled tab,
// whose notice says why, not that the file is gone; the file opens as it is.
TEST_F(DesktopDocumentControllerDisplay, ADraftWhoseFileChangedComesBackUntitledSayingWhy) {
    const auto path = dir.write("notes.md", "# Notes\n\nas the draft saw it\n");
    RecoveryDraft draft;
    draft.draftID = "00000001-0000-4000-8000-000000000000";
    draft.displayName = "notes.md";
    draft.fileIdentity = RecoveryDraft::FileIdentity{FileBookmark::make(path), path.string()};
    draft.originalDiskVersion = RecoveryDraft::StoredDiskVersion::from(DiskVersion::read(path));
    draft.encoding = "utf8";
    draft.lineEnding = "lf";
    draft.content = "# Notes\n\ntyped before the crash\n";
    draft.sourceRevision = 2;
    draft.createdAt = draft.updatedAt = Clock::system().wallNow();
    RecoveryStore::writeAtomically(draft, store->directory());
    writeInPlace(path, "# Notes\n\nrewritten by another program\n");

    const auto restored = await(RecoveryLaunch::restoreUnresolvedDrafts(store, controller));
    ASSERT_EQ(restored.size(), 1u);
    auto* untitled = dynamic_cast<Document*>(restored[0].get());
    ASSERT_NE(untitled, nullptr);
    EXPECT_FALSE(untitled->path());
    EXPECT_EQ(untitled->model().sourceText(), "# Notes\n\ntyped before the crash\n");
    EXPECT_FALSE(untitled->model().isMissing()) << "the file is there";
    ASSERT_NE(pageOf(*untitled), nullptr);
    const auto& shown = pageOf(*untitled)->noticeBar()->content();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->message, "源文件在这份草稿之后已被改动，恢复的内容放在这里以免覆盖，需要另存。");
    ASSERT_EQ(shown->actions.size(), 1u);
    EXPECT_EQ(shown->actions[0].title, "另存为…");
    auto file = controller->registry().find(standardizedPath(path));
    ASSERT_TRUE(file) << "the file opened too";
    EXPECT_EQ(file->model().sourceText(), "# Notes\n\nrewritten by another program\n");
    EXPECT_FALSE(file->isEdited());
}

// A link to a heading of an open document whose web view was given back
// (one live web view: the tab being read keeps it): the tab comes forward,
// its page is built again, and the heading is scrolled to once that page has
// rendered, not sent to a page that shows nothing yet.
TEST_F(DesktopDocumentControllerDisplay, AFragmentLinkToATabWhoseWebViewWasReleasedScrollsOnceItsPageRenders) {
    controller.reset();
    DesktopDocumentController::Dependencies dependencies = controllerDependencies();
    const auto workingSet = WebViewWorkingSet::create(1);
    dependencies.environment.workingSet = workingSet;
    makeController(std::move(dependencies));
    const auto secondPath = dir.write("second.md", longText("## Section\n\nthe end"));
    const auto sourcePath = dir.write("source.md", "# Source\n\n[down](second.md#section)\n");

    Document& second = openRendered(secondPath);
    DocumentPage* secondPage = pageOf(second);
    Document& source = openRendered(sourcePath);
    const auto& reader = pageOf(source)->readerController();
    ASSERT_TRUE(test::waitFor([&] { return !secondPage->readerController()->hasWebView(); }))
        << "the hidden tab kept its web view";
    const int renders = second.renderCount();

    logs.clear();
    reader->bridgeDidRequestOpenLink(*reader->bridge(),
                                     OpenLinkPayload{"second.md#section", OpenLinkPayload::Kind::relative, {}});
    ASSERT_TRUE(test::waitFor([&] {
        return logs.contains("actions", "片段定位") || logs.contains("bridge", "scrollToHeading");
    })) << "the fragment was never sent";
    EXPECT_TRUE(logs.contains("actions", "片段定位 section：found=true"));
    EXPECT_FALSE(logs.contains("actions", "片段定位失败"));
    EXPECT_FALSE(logs.contains("bridge", "页面里没有"));
    EXPECT_GT(second.renderCount(), renders) << "scrolled before the rebuilt page rendered";
    EXPECT_EQ(pageServices.tabGroups.all().front()->selectedPage(), secondPage);
    EXPECT_EQ(controller->registry().size(), 2u);
    EXPECT_GT(scrollTop(*secondPage), 0.0) << "opened at its top";
}

// Each tab keeps its own keyboard focus, as a window of its own would: a
// tab selected again takes it back where it was in it (its page, its
// outline), also when its web view was given up meanwhile (one live web
// view: each switch releases the other tab's) and is made again; a focus on
// the header stays there.
TEST_F(DesktopDocumentControllerDisplay, ASelectedTabTakesItsKeyboardFocusBackEvenWithItsWebViewMadeAgain) {
    controller.reset();
    DesktopDocumentController::Dependencies dependencies = controllerDependencies();
    dependencies.environment.workingSet = WebViewWorkingSet::create(1);
    makeController(std::move(dependencies));
    Document& first = openRendered(dir.write("first.md", longText("## First end")));
    Document& second = openRendered(dir.write("second.md", longText("## Second end")));
    DocumentPage* firstPage = pageOf(first);
    DocumentPage* secondPage = pageOf(second);
    TabGroupWindow& group = *pageServices.tabGroups.all().front();
    GtkRoot* root = GTK_ROOT(group.window());
    ASSERT_TRUE(test::waitFor([&] { return !firstPage->readerController()->hasWebView(); }));
    // Selected, with its page made again and rendered (by then the window
    // has laid out: a focus it moves itself has moved).
    const auto select = [&](DocumentPage* page, Document& document) {
        const int renders = document.renderCount();
        adw_tab_view_set_selected_page(group.tabView(), adw_tab_view_get_page(group.tabView(), page->widget()));
        ASSERT_TRUE(test::waitFor([&] { return document.renderCount() > renders; })) << "not made again";
    };
    const auto focusOnPage = [&](DocumentPage* page) {
        WebKitWebView* view = page->readerView()->webView();
        return view && gtk_root_get_focus(root) == GTK_WIDGET(view);
    };

    // A click into the page.
    ASSERT_TRUE(gtk_widget_grab_focus(GTK_WIDGET(secondPage->readerView()->webView())));
    select(firstPage, first);
    EXPECT_TRUE(focusOnPage(firstPage)) << "a page shown for the first time since its release";
    select(secondPage, second);
    EXPECT_TRUE(focusOnPage(secondPage));

    // Into the outline: it is where the focus comes back to.
    GtkWidget* outline = GTK_WIDGET(secondPage->outline().listView());
    ASSERT_TRUE(gtk_widget_child_focus(outline, GTK_DIR_TAB_FORWARD));
    select(firstPage, first);
    EXPECT_TRUE(focusOnPage(firstPage));
    select(secondPage, second);
    GtkWidget* focus = gtk_root_get_focus(root);
    EXPECT_TRUE(focus && gtk_widget_is_ancestor(focus, outline)) << (focus ? G_OBJECT_TYPE_NAME(focus) : "none");

    ASSERT_TRUE(gtk_widget_grab_focus(group.findButton()));
    select(firstPage, first);
    EXPECT_EQ(gtk_root_get_focus(root), group.findButton()) << "the header's focus stays";
}

// A table of 20,000 rows read at row 15,000, in a program that keeps one
// live web view: another program changes the file, and while the page takes
// the table's rows in again, the other tab is read (the table's web view is
// given up); when its tab is read again, its page is built again and comes
// back at row 15,000, not at the place the page showed among the rows in so
// far.
TEST_F(DesktopDocumentControllerDisplay, ALongTableGivenUpWhileItsRowsGoInComesBackAtTheRowRead) {
    controller.reset();
    DesktopDocumentController::Dependencies dependencies = controllerDependencies();
    dependencies.environment.workingSet = WebViewWorkingSet::create(1);
    makeController(std::move(dependencies));
    std::string text = "# Table\n\n| n | name | value |\n|---|---|---|\n";
    for (int row = 1; row <= 20000; ++row)
        text += "| " + std::to_string(row) + " | row" + std::to_string(row) + " | needle" + std::to_string(row) + " |\n";
    const auto tablePath = dir.write("table.md", text);
    const auto otherPath = dir.write("other.md", "# Other\n\ntext\n");

    openRendered(otherPath);
    Document& table = openRendered(tablePath);
    DocumentPage* page = pageOf(table);
    ASSERT_NE(page, nullptr);
    const auto& reader = page->readerController();
    // The number in the first cell of the row at the top of the page.
    const auto rowAtTop = [&] {
        const test::ScriptOutcome outcome = test::callScript(page->readerView()->webView(), R"(
            const rows = document.querySelectorAll('tbody tr');
            let low = 0, high = rows.length - 1;
            while (low < high) {
                const mid = (low + high) >> 1;
                if (rows[mid].getBoundingClientRect().bottom > 1) high = mid; else low = mid + 1;
            }
            return rows.length ? Number(rows[low].cells[0].textContent) : -1;)");
        return outcome.ok ? std::stoi(outcome.json) : -1;
    };
    test::callScript(page->readerView()->webView(), R"(
        for (const row of document.querySelectorAll('tbody tr'))
            if (row.cells[0].textContent === '15000') { row.scrollIntoView({block: 'start'}); break; }
        return 0;)");
    ASSERT_TRUE(test::waitFor([&] { return std::abs(rowAtTop() - 15000) <= 1; })) << "never scrolled to the row";

    const int renders = table.renderCount();
    writeInPlace(tablePath, text + "\nAfter the table.\n");
    // The changed text's table is in place and still taking its rows in, far
    // past those that came with the first screen (a machine quick enough to
    // take them all in between two looks gives the tab up once they are in).
    ASSERT_TRUE(test::waitFor([&] {
        if (table.renderCount() > renders) return true;
        const test::ScriptOutcome outcome = test::callScript(page->readerView()->webView(), R"(
            const rows = document.querySelectorAll('tbody tr').length;
            return !document.querySelector('.md-staging') && rows >= 4000 && rows < 20000;)");
        return outcome.ok && outcome.json == "true";
    })) << "the changed text never went in";
    EXPECT_TRUE(open(otherPath).alreadyOpen);
    ASSERT_TRUE(test::waitFor([&] { return !reader->hasWebView(); })) << "the hidden tab kept its web view";

    EXPECT_TRUE(open(tablePath).alreadyOpen);
    ASSERT_TRUE(test::waitFor([&] {
        const ReaderDiagnostics d = reader->diagnostics();
        return reader->hasWebView() && d.pageHasContent && !d.isRendering && d.lastAnchorRestored.has_value();
    })) << "the page built again never rendered";
    EXPECT_NEAR(rowAtTop(), 15000, 1) << "the table came back elsewhere";
}

TEST_F(DesktopDocumentControllerDisplay, ARelativeMarkdownLinkOpensItsFileInATab) {
    dir.write("docs/target.md", "# Target heading\n\ntarget body\n");
    const auto sourcePath = dir.write("source.md", "# Source\n\n[next](docs/target.md)\n");
    Document& source = openRendered(sourcePath);
    const auto& reader = pageOf(source)->readerController();
    // The page reports the click to its reader, which hands it to its owner.
    const auto click = [&] {
        reader->bridgeDidRequestOpenLink(
            *reader->bridge(), OpenLinkPayload{"docs/target.md", OpenLinkPayload::Kind::relative, {}});
    };
    ASSERT_TRUE(reader->bridge());
    click();

    ASSERT_TRUE(test::waitFor([&] { return controller->registry().size() == 2; })) << "nothing opened";
    auto target = controller->registry().find(standardizedPath(dir / "docs" / "target.md"));
    ASSERT_TRUE(target);
    ASSERT_TRUE(test::waitFor([&] { return target->renderCount() >= 1; }));
    TabGroupWindow& group = *pageServices.tabGroups.all().front();
    EXPECT_EQ(group.pages().size(), 2u);
    EXPECT_EQ(group.selectedPage(), pageOf(*target));
    EXPECT_NE(pageText(*pageOf(*target)).find("target body"), std::string::npos);

    // The same link again brings the open tab forward.
    adw_tab_view_set_selected_page(group.tabView(),
                                   adw_tab_view_get_page(group.tabView(), pageOf(source)->widget()));
    click();
    ASSERT_TRUE(test::waitFor([&] { return group.selectedPage() == pageOf(*target); }));
    EXPECT_EQ(controller->registry().size(), 2u);
}

// How the program ends on a signal or at the session's end: the draft of
// every edited document is on disk before the process goes, and no document
// is closed (closing would resolve its draft). Run in a child process of its
// own, which writes without the 2 s wait and exits.
TEST_F(DesktopDocumentControllerDisplay, AtTerminationEveryEditedDocumentsDraftIsWrittenAndKept) {
    Document& first = openRendered(dir.write("first.md", "# First\n"));
    Document& second = openRendered(dir.write("second.md", "# Second\n"));
    openRendered(dir.write("unedited.md", "# Unedited\n"));
    ASSERT_TRUE(first.model().replaceAll("# First\n\ntyped\n"));
    ASSERT_TRUE(second.model().replaceAll("# Second\n\ntyped too\n"));
    const auto terminate = [&] {
        MainThread::beginQuitting();
        controller->flushEveryDraftAndWait();
        std::multiset<std::string> texts;
        for (const RecoveryDraft& draft : RecoveryStore::allDrafts(store->directory())) {
            if (!draft.resolution && draft.content) texts.insert(*draft.content);
        }
        const std::multiset<std::string> expected{"# First\n\ntyped\n", "# Second\n\ntyped too\n"};
        if (texts != expected || controller->registry().size() != 3) {
            std::cerr << "drafts on disk: " << texts.size() << ", documents open: "
                      << controller->registry().size() << "\n";
            std::_Exit(1);
        }
        std::_Exit(0);
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(terminate(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace larkspin
