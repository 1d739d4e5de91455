#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "Window/Widgets/OutlineSidebar.hpp"

namespace larkspin {
namespace {

std::vector<BridgeHeading> headings(std::vector<std::pair<int, std::string>> levels) {
    std::vector<BridgeHeading> list;
    for (auto& [level, id] : levels) list.push_back(BridgeHeading{level, id + " text", id});
    return list;
}

unsigned selected(OutlineSidebar& sidebar) {
    return gtk_single_selection_get_selected(sidebar.selection());
}

TEST(OutlineSidebarDisplay, ShowsTheTreeExpandedAndSeparatesHighlightsFromPicks) {
    OutlineSidebar sidebar;
    std::vector<std::string> picked;
    sidebar.onSelectHeading = [&](const BridgeHeading& heading) { picked.push_back(heading.id); };
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(window, 260, 400);
    gtk_window_set_child(window, sidebar.widget());
    gtk_window_present(window);

    // Before the first list: neither the list nor the empty text.
    EXPECT_FALSE(gtk_widget_get_visible(sidebar.emptyLabel()));
    // The active heading arrives before its list: remembered, selected later.
    sidebar.highlight("c");
    EXPECT_EQ(selected(sidebar), GTK_INVALID_LIST_POSITION);

    const auto list = headings({{1, "a"}, {2, "b"}, {3, "c"}, {2, "d"}, {1, "e"}});
    sidebar.update(list);
    GListModel* rows = G_LIST_MODEL(sidebar.selection());
    EXPECT_EQ(g_list_model_get_n_items(rows), 5u) << "every level expanded";
    EXPECT_EQ(selected(sidebar), 2u);
    EXPECT_FALSE(gtk_widget_get_visible(sidebar.emptyLabel()));
    GtkTreeListRow* row = GTK_TREE_LIST_ROW(g_list_model_get_item(rows, 2));
    EXPECT_EQ(gtk_tree_list_row_get_depth(row), 2u);
    g_object_unref(row);

    sidebar.highlight("e");
    EXPECT_EQ(selected(sidebar), 4u);
    EXPECT_TRUE(picked.empty()) << "a highlight is not a pick";

    // The user's selection (a click or the keys) scrolls the page, once.
    gtk_selection_model_select_item(GTK_SELECTION_MODEL(sidebar.selection()), 1, TRUE);
    EXPECT_EQ(picked, std::vector<std::string>{"b"});

    // An equal list keeps the rows; a changed one rebuilds and keeps the
    // active heading selected.
    const int rebuilds = sidebar.rebuildCount();
    sidebar.update(list);
    EXPECT_EQ(sidebar.rebuildCount(), rebuilds);
    sidebar.update(headings({{1, "x"}, {1, "e"}}));
    EXPECT_EQ(sidebar.rebuildCount(), rebuilds + 1);
    EXPECT_EQ(selected(sidebar), 1u);
    EXPECT_EQ(picked.size(), 1u) << "a rebuild is not a pick";

    sidebar.update({});
    EXPECT_TRUE(gtk_widget_get_visible(sidebar.emptyLabel()));
    sidebar.update(list);
    EXPECT_FALSE(gtk_widget_get_visible(sidebar.emptyLabel()));
    gtk_window_destroy(window);
}

}  // namespace
}  // namespace larkspin
