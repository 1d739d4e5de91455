#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "App/Desktop/DesktopShellDocuments.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin {
namespace {

// The shell's view of real documents in real group windows.
class DesktopShellDocumentsDisplay : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        DesktopDocumentController::Dependencies dependencies = controllerDependencies();
        dependencies.observesFiles = false;
        makeController(std::move(dependencies));
        documents = std::make_unique<DesktopShellDocuments>(controller, nullptr, pageServices.sessionChanges);
        documents->setChangeHandler([this] { ++changes; });
    }
    void TearDown() override {
        closeGroupWindows();
        documents.reset();
        DocumentControllerDisplayTest::TearDown();
    }

    std::unique_ptr<DesktopShellDocuments> documents;
    int changes = 0;
};

TEST_F(DesktopShellDocumentsDisplay, TheWindowStateNamesEveryPageOnceAcrossGroups) {
    EXPECT_FALSE(documents->canPerform(DocumentCommand::copy)) << "no key page";
    await(controller->openDocument(dir.write("alpha.md", "# Alpha\n"), true));
    await(controller->openDocument(dir.write("beta.md", "# Beta\n"), true));
    EXPECT_TRUE(test::waitFor([&] { return changes > 0; })) << "opening reached the change handler";
    ASSERT_EQ(pageServices.tabGroups.all().size(), 1u);
    TabGroupWindow& first = *pageServices.tabGroups.all().front();
    TabGroupWindow& second = first.tearOff(*first.pages().front());
    EXPECT_TRUE(documents->canPerform(DocumentCommand::copy));
    EXPECT_TRUE(documents->canPerform(DocumentCommand::close));

    const WindowStateSnapshot state = documents->windowState();
    EXPECT_EQ(state.documentCount, 2u);
    ASSERT_EQ(state.pages.size(), 2u);
    std::set<std::int64_t> numbers;
    for (const WindowStateEntry& page : state.pages) {
        numbers.insert(page.number);
        EXPECT_TRUE(page.hasDocument);
        ASSERT_EQ(page.groupPages.size(), 1u) << "each page alone in its group now";
        EXPECT_EQ(page.groupPages.front(), page.number);
        EXPECT_EQ(page.selectedPage, page.number);
    }
    EXPECT_EQ(numbers.size(), 2u);
    ASSERT_EQ(state.documentPages.size(), 2u);
    for (const auto& pages : state.documentPages) EXPECT_EQ(pages.size(), 1u);
    EXPECT_EQ(std::set<std::int64_t>(state.frontToBack.begin(), state.frontToBack.end()), numbers);
    const std::string names = WindowStateReporter::summary(state);
    EXPECT_NE(names.find("alpha.md"), std::string::npos) << names;
    EXPECT_NE(names.find("beta.md"), std::string::npos) << names;

    // The same pages keep their numbers.
    const WindowStateSnapshot again = documents->windowState();
    ASSERT_EQ(again.pages.size(), 2u);
    EXPECT_EQ(again.pages[0].number, state.pages[0].number);
    EXPECT_EQ(again.pages[1].number, state.pages[1].number);
    EXPECT_EQ(second.pages().size(), 1u);
}

// The close command (Ctrl+W) closes the window that has the focus: a window
// of ours that is no document window goes, the tab behind it stays.
TEST_F(DesktopShellDocumentsDisplay, CloseActsOnTheFocusedWindow) {
    await(controller->openDocument(dir.write("alpha.md", "# Alpha\n"), true));
    ASSERT_EQ(pageServices.tabGroups.all().size(), 1u);
    GtkWindow* group = pageServices.tabGroups.all().front()->window();
    gtk_window_present(group);
    ASSERT_TRUE(test::waitFor([&] { return gtk_window_is_active(group); }));

    GtkWindow* other = GTK_WINDOW(gtk_window_new());
    g_object_add_weak_pointer(G_OBJECT(other), reinterpret_cast<gpointer*>(&other));
    gtk_window_present(other);
    ASSERT_TRUE(test::waitFor([&] { return gtk_window_is_active(other); }));
    EXPECT_TRUE(documents->canPerform(DocumentCommand::close));
    documents->perform(DocumentCommand::close);
    EXPECT_TRUE(test::waitFor([&] { return other == nullptr; })) << "the focused window closed";
    EXPECT_EQ(controller->registry().size(), 1u) << "the document stayed";

    gtk_window_present(group);
    ASSERT_TRUE(test::waitFor([&] { return gtk_window_is_active(group); }));
    documents->perform(DocumentCommand::close);
    EXPECT_TRUE(test::waitFor([&] { return controller->registry().size() == 0; }));
}

}  // namespace
}  // namespace larkspin
