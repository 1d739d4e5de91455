// Where the keys go and how it shows, driven by keys pressed through XTest on
// the test's private display, in a window of the program's controller.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cmath>
#include <optional>
#include <string>

#include "Document/Document.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Support/Display/Keyboard.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin {
namespace {

class KeyboardFocusDisplay : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        test::closeLeftMessages();
        makeController(controllerDependencies());
    }

    // A long document of `sections` sections, opened and rendered.
    DocumentPage& openLong(int sections) {
        std::string text = "# Long\n\n";
        for (int i = 1; i <= sections; ++i)
            text += "## Section " + std::to_string(i) + "\n\nParagraph " + std::to_string(i) + " of the long file.\n\n";
        const auto opened = await(controller->openDocument(dir.write("long.md", text), true));
        auto* document = dynamic_cast<Document*>(opened.document.get());
        EXPECT_NE(document, nullptr);
        EXPECT_TRUE(test::waitFor([&] { return document && document->renderCount() >= 1; })) << "no render";
        return *dynamic_cast<DocumentPage*>(document->window());
    }
    static double scrollY(DocumentPage& page) {
        const test::ScriptOutcome outcome = test::callScript(page.readerView()->webView(), "return window.scrollY;");
        EXPECT_TRUE(outcome.ok) << outcome.error;
        return outcome.ok ? std::stod(outcome.json) : -1;
    }
    // The outline's row that has the window's focus, if one has.
    static std::optional<unsigned> focusedRow(DocumentPage& page) {
        GtkWidget* focus = gtk_root_get_focus(gtk_widget_get_root(page.widget()));
        if (!focus || !gtk_widget_is_ancestor(focus, GTK_WIDGET(page.outline().listView()))) return std::nullopt;
        GtkWidget* expander = test::findWidget(focus, [](GtkWidget* widget) { return GTK_IS_TREE_EXPANDER(widget); });
        GtkTreeListRow* row = expander ? gtk_tree_expander_get_list_row(GTK_TREE_EXPANDER(expander)) : nullptr;
        if (!row) return std::nullopt;
        return gtk_tree_list_row_get_position(row);
    }
};

// Far down a long document, F6 takes the focus to the outline at the row of
// the heading being read, and moves nothing; Down then goes on to the next
// heading, not back to the first; F6 again gives the page the keys.
TEST_F(KeyboardFocusDisplay, F6EntersTheOutlineAtTheHeadingBeingReadAndMovesNothing) {
    DocumentPage& page = openLong(300);
    TabGroupWindow& group = *pageServices.tabGroups.all().front();
    GtkSingleSelection* selection = page.outline().selection();
    ASSERT_TRUE(gtk_widget_grab_focus(GTK_WIDGET(page.readerView()->webView())));
    // Around Section 285 (the outline's row 285, under the title's row).
    test::callScript(page.readerView()->webView(),
                     "document.querySelectorAll('h2')[284].scrollIntoView(); return 0;");
    ASSERT_TRUE(test::waitFor([&] {
        const unsigned row = gtk_single_selection_get_selected(selection);
        return row != GTK_INVALID_LIST_POSITION && row > 280;
    })) << gtk_single_selection_get_selected(selection);
    const unsigned current = gtk_single_selection_get_selected(selection);
    const double reading = scrollY(page);
    ASSERT_GT(reading, 1000);

    ASSERT_TRUE(test::pressKey(group.window(), XK_F6));
    EXPECT_TRUE(test::waitFor([&] { return focusedRow(page) == current; }))
        << G_OBJECT_TYPE_NAME(gtk_root_get_focus(GTK_ROOT(group.window()))) << " row " << focusedRow(page).value_or(-1);
    EXPECT_EQ(gtk_single_selection_get_selected(selection), current);
    EXPECT_EQ(scrollY(page), reading);

    ASSERT_TRUE(test::pressKey(group.window(), XK_Down));
    ASSERT_TRUE(test::waitFor([&] { return focusedRow(page) != current; }));
    EXPECT_EQ(focusedRow(page), current + 1);
    EXPECT_TRUE(test::waitFor([&] { return scrollY(page) > reading; })) << "went back to " << scrollY(page);
}

}  // namespace
}  // namespace larkspin
