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

// The active heading's row is found down its path: deep and late rows, rows
// after a collapsed one, and no row for a heading a collapsed row hides.
TEST(OutlineSidebarDisplay, HighlightFindsTheRowThroughCollapsedParents) {
    OutlineSidebar sidebar;
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(window, 260, 400);
    gtk_window_set_child(window, sidebar.widget());
    gtk_window_present(window);
    std::vector<std::pair<int, std::string>> levels{{1, "a"}, {2, "b"}, {3, "c"}, {2, "d"}};
    for (int i = 0; i < 300; ++i) levels.push_back({2 + i % 2, "s" + std::to_string(i)});
    levels.push_back({1, "z"});
    levels.push_back({4, "z1"});
    sidebar.update(headings(levels));

    sidebar.highlight("s299");
    EXPECT_EQ(selected(sidebar), 303u);
    sidebar.highlight("z1");
    EXPECT_EQ(selected(sidebar), 305u) << "a deeper level under a skipped one";

    // Collapsing "s0" hides the row under it and moves those after it.
    GListModel* rows = G_LIST_MODEL(sidebar.selection());
    GtkTreeListRow* s0 = GTK_TREE_LIST_ROW(g_list_model_get_item(rows, 4));
    gtk_tree_list_row_set_expanded(s0, FALSE);
    g_object_unref(s0);
    sidebar.highlight("z");
    EXPECT_EQ(selected(sidebar), 303u);
    sidebar.highlight("s1");
    EXPECT_EQ(selected(sidebar), 303u) << "a hidden heading leaves the selection";
    sidebar.highlight("c");
    EXPECT_EQ(selected(sidebar), 2u);
    gtk_window_destroy(window);
}

// A right click opens the file-path menu, whose items reach the window's
// "win." actions up the widget tree.
TEST(OutlineSidebarDisplay, ARightClickOpensTheFilePathMenu) {
    OutlineSidebar sidebar;
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(window, 260, 400);
    gtk_window_set_child(window, sidebar.widget());
    std::vector<std::string> activated;
    GSimpleActionGroup* actions = g_simple_action_group_new();
    for (const char* name : {"copy-file-path", "reveal-in-file-manager"}) {
        GSimpleAction* action = g_simple_action_new(name, nullptr);
        g_signal_connect(action, "activate", G_CALLBACK(+[](GSimpleAction* a, GVariant*, gpointer list) {
            static_cast<std::vector<std::string>*>(list)->push_back(g_action_get_name(G_ACTION(a)));
        }), &activated);
        g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(action));
        g_object_unref(action);
    }
    gtk_widget_insert_action_group(GTK_WIDGET(window), "win", G_ACTION_GROUP(actions));
    gtk_window_present(window);
    sidebar.update(headings({{1, "a"}}));

    // The menu is made at the first right click, not with the sidebar: each
    // tab has a sidebar, and each item of a menu watches its action.
    const auto popovers = [&sidebar] {
        int count = 0;
        for (GtkWidget* child = gtk_widget_get_first_child(sidebar.widget()); child;
             child = gtk_widget_get_next_sibling(child)) {
            count += GTK_IS_POPOVER_MENU(child) ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(popovers(), 0);

    // The secondary button's press on the sidebar pops the menu up.
    GtkGesture* secondary = nullptr;
    GListModel* controllers = gtk_widget_observe_controllers(sidebar.widget());
    for (unsigned index = 0; index < g_list_model_get_n_items(controllers); ++index) {
        auto* controller = static_cast<GObject*>(g_list_model_get_item(controllers, index));
        if (GTK_IS_GESTURE_CLICK(controller) &&
            gtk_gesture_single_get_button(GTK_GESTURE_SINGLE(controller)) == GDK_BUTTON_SECONDARY) {
            secondary = GTK_GESTURE(controller);
        }
        g_object_unref(controller);
    }
    g_object_unref(controllers);
    ASSERT_NE(secondary, nullptr);
    g_signal_emit_by_name(secondary, "pressed", 1, 20.0, 30.0);
    EXPECT_EQ(popovers(), 1);
    GtkWidget* menu = sidebar.contextMenu();
    ASSERT_TRUE(GTK_IS_POPOVER_MENU(menu));
    EXPECT_EQ(gtk_widget_get_parent(menu), sidebar.widget());
    GMenuModel* model = gtk_popover_menu_get_menu_model(GTK_POPOVER_MENU(menu));
    ASSERT_EQ(g_menu_model_get_n_items(model), 2);
    std::vector<std::string> names;
    for (int index = 0; index < 2; ++index) {
        gchar* action = nullptr;
        ASSERT_TRUE(g_menu_model_get_item_attribute(model, index, G_MENU_ATTRIBUTE_ACTION, "s", &action));
        names.push_back(action);
        g_free(action);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"win.copy-file-path", "win.reveal-in-file-manager"}));

    EXPECT_TRUE(gtk_widget_get_visible(menu));
    EXPECT_TRUE(gtk_widget_activate_action(menu, "win.copy-file-path", nullptr));
    EXPECT_TRUE(gtk_widget_activate_action(menu, "win.reveal-in-file-manager", nullptr));
    EXPECT_EQ(activated, (std::vector<std::string>{"copy-file-path", "reveal-in-file-manager"}));
    gtk_popover_popdown(GTK_POPOVER(menu));
    gtk_window_destroy(window);
    g_object_unref(actions);
}

}  // namespace
}  // namespace larkspin
