// The tooltips of a document's window, as the program builds it: shown only
// where they add something, on one line of their own.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Document/Document.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Reader/Widgets/NoticeBarViewController.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin {
namespace {

// Whether hovering `widget` shows a tooltip, asked as GTK asks when the
// pointer rests on it.
bool showsTooltip(GtkWidget* widget) {
    if (!gtk_widget_get_has_tooltip(widget)) return false;
    auto* tooltip = GTK_TOOLTIP(g_object_new(GTK_TYPE_TOOLTIP, nullptr));
    gboolean shown = FALSE;
    g_signal_emit_by_name(widget, "query-tooltip", 1, 1, FALSE, tooltip, &shown);
    g_object_unref(tooltip);
    return shown;
}

// Every label under `root` whose text is `text`.
void labelsReading(GtkWidget* root, const std::string& text, std::vector<GtkWidget*>& found) {
    if (GTK_IS_LABEL(root) && text == gtk_label_get_text(GTK_LABEL(root))) found.push_back(root);
    for (GtkWidget* child = gtk_widget_get_first_child(root); child; child = gtk_widget_get_next_sibling(child)) {
        labelsReading(child, text, found);
    }
}

class TooltipsDisplay : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        makeController(controllerDependencies());
    }
};

TEST_F(TooltipsDisplay, ShowOnlyWhereTheyAddSomethingAndNeverGtksWrappingText) {
    const std::string longHeading =
        "这是一个非常长的标题，它在侧栏里放不下，所以行里只显示开头，其余的要靠提示才能看到全文";
    const auto opened =
        await(controller->openDocument(dir.write("tips.md", "# 短标题\n\ntext\n\n## " + longHeading + "\n"), true));
    auto* document = dynamic_cast<Document*>(opened.document.get());
    ASSERT_NE(document, nullptr);
    ASSERT_TRUE(test::waitFor([&] { return document->renderCount() >= 1; })) << "no render";
    TabGroupWindow& group = *pageServices.tabGroups.all().front();
    auto* page = dynamic_cast<DocumentPage*>(document->window());
    ASSERT_NE(page, nullptr);
    if (!page->isSidebarShown()) page->toggleSidebar();

    // The outline's rows: the short heading is all there; the long one is
    // cut, and its tooltip gives the rest.
    std::vector<GtkWidget*> shortRows, longRows;
    ASSERT_TRUE(test::waitFor([&] {
        shortRows.clear();
        longRows.clear();
        labelsReading(page->outline().widget(), "短标题", shortRows);
        labelsReading(page->outline().widget(), longHeading, longRows);
        return !shortRows.empty() && !longRows.empty() && gtk_widget_get_mapped(longRows[0]) &&
               gtk_widget_get_width(longRows[0]) > 0;
    })) << "no rows";
    EXPECT_FALSE(showsTooltip(shortRows[0]));
    EXPECT_TRUE(showsTooltip(longRows[0]));

    // The header's icon buttons name themselves and their keys.
    for (GtkWidget* button : {group.sidebarButton(), group.findButton(), group.menuButton()}) {
        EXPECT_TRUE(showsTooltip(button));
        // GTK's own tooltip text is the one that wraps a Chinese text after
        // a character or two.
        EXPECT_EQ(gtk_widget_get_tooltip_text(button), nullptr);
    }
    // Not over the menu it opened.
    GtkMenuButton* menu = GTK_MENU_BUTTON(group.menuButton());
    gtk_menu_button_popup(menu);
    ASSERT_TRUE(test::waitFor([&] { return gtk_widget_get_mapped(GTK_WIDGET(gtk_menu_button_get_popover(menu))); }));
    EXPECT_FALSE(showsTooltip(group.menuButton()));
    gtk_menu_button_popdown(menu);

    // A notice's buttons say their titles in full already.
    document->setExternalIssue(ExternalIssue::missing());
    auto& bar = *std::dynamic_pointer_cast<NoticeBarViewController>(page->noticeBar()->view());
    ASSERT_TRUE(test::waitFor([&] { return !bar.buttons().empty(); }));
    for (GtkWidget* button : bar.buttons()) EXPECT_FALSE(showsTooltip(button));
}

}  // namespace
}  // namespace larkspin
