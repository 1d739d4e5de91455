#include "Window/Widgets/OutlineSidebar.hpp"

#include <gtk/gtk.h>

#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Reader/Widgets/Tooltips.hpp"
#include "Window/FilePathMenu.hpp"

namespace larkspin {

namespace {

// Rows carry their node's position in the tree as a string object.
GtkStringObject* nodeItem(std::size_t node) {
    return gtk_string_object_new(std::to_string(node).c_str());
}

std::optional<std::size_t> nodeOfItem(gpointer item) {
    if (GTK_IS_TREE_LIST_ROW(item)) {
        GObjectPtr<GObject> inner = GObjectPtr<GObject>::adopt(
            static_cast<GObject*>(gtk_tree_list_row_get_item(GTK_TREE_LIST_ROW(item))));
        return nodeOfItem(inner.get());
    }
    if (!GTK_IS_STRING_OBJECT(item)) return std::nullopt;
    const char* text = gtk_string_object_get_string(GTK_STRING_OBJECT(item));
    std::size_t node = 0;
    const char* end = text + std::char_traits<char>::length(text);
    const auto [rest, error] = std::from_chars(text, end, node);
    if (error != std::errc{} || rest != end) return std::nullopt;
    return node;
}

GListStore* storeOf(const TOCTree& tree, const std::vector<std::size_t>& nodes) {
    GListStore* store = g_list_store_new(GTK_TYPE_STRING_OBJECT);
    for (const std::size_t node : nodes) {
        if (node >= tree.nodes.size()) continue;
        GtkStringObject* item = nodeItem(node);
        g_list_store_append(store, item);
        g_object_unref(item);
    }
    return store;
}

// The children of a row, from the tree the model was made of (the model keeps
// its own copy, so a row made late never reads a newer tree).
GListModel* childrenOf(gpointer item, gpointer data) {
    const auto* tree = static_cast<const TOCTree*>(data);
    const std::optional<std::size_t> node = nodeOfItem(item);
    if (!node || *node >= tree->nodes.size() || tree->nodes[*node].children.empty()) return nullptr;
    return G_LIST_MODEL(storeOf(*tree, tree->nodes[*node].children));
}

void deleteTree(gpointer data) {
    delete static_cast<TOCTree*>(data);
}

}  // namespace

OutlineSidebar::OutlineSidebar() {
    root_ = GObjectPtr<GtkWidget>::adopt(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
    gtk_widget_add_css_class(root_.get(), "larkspin-outline");
    gtk_widget_set_size_request(root_.get(), 180, -1);

    factory_ = GObjectPtr<GtkSignalListItemFactory>::adopt(
        GTK_SIGNAL_LIST_ITEM_FACTORY(gtk_signal_list_item_factory_new()));
    setup_ = SignalConnection::connect(factory_.get(), "setup", G_CALLBACK(setupRow), this);
    bind_ = SignalConnection::connect(factory_.get(), "bind", G_CALLBACK(bindRow), this);

    selection_ = GObjectPtr<GtkSingleSelection>::adopt(gtk_single_selection_new(nullptr));
    gtk_single_selection_set_autoselect(selection_.get(), FALSE);
    gtk_single_selection_set_can_unselect(selection_.get(), TRUE);
    selectionChanged_ = SignalConnection::connect(selection_.get(), "selection-changed",
                                                  G_CALLBACK(selectionChanged), this);

    g_object_ref(selection_.get());  // the view takes one reference
    g_object_ref(factory_.get());
    list_ = gtk_list_view_new(GTK_SELECTION_MODEL(selection_.get()),
                              GTK_LIST_ITEM_FACTORY(factory_.get()));
    gtk_widget_set_name(list_, "Orvik.tocOutline");
    gtk_widget_add_css_class(list_, "navigation-sidebar");
    gtk_accessible_update_property(GTK_ACCESSIBLE(list_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("toc.accessibility").c_str(), -1);
    activate_ = SignalConnection::connect(list_, "activate", G_CALLBACK(activated), this);
    // A click picks the row under the pointer, whether or not it was already
    // selected. The gesture runs before the row's own (capture), so the
    // selection change the row makes for the click is not a second pick.
    GtkGesture* primary = gtk_gesture_click_new();
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(primary), GDK_BUTTON_PRIMARY);
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(primary), GTK_PHASE_CAPTURE);
    primaryPress_ = SignalConnection::connect(primary, "pressed", G_CALLBACK(primaryPressed), this);
    primaryRelease_ =
        SignalConnection::connect(primary, "released", G_CALLBACK(primaryReleased), this);
    primaryStop_ = SignalConnection::connect(primary, "stopped", G_CALLBACK(primaryStopped), this);
    gtk_widget_add_controller(list_, GTK_EVENT_CONTROLLER(primary));
    GtkEventController* focus = gtk_event_controller_focus_new();
    focusEnter_ = SignalConnection::connect(focus, "enter", G_CALLBACK(focusEntered), this);
    gtk_widget_add_controller(list_, focus);

    scroller_ = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller_), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller_), list_);
    gtk_widget_set_vexpand(scroller_, TRUE);
    gtk_widget_set_visible(scroller_, FALSE);
    gtk_box_append(GTK_BOX(root_.get()), scroller_);

    emptyLabel_ = gtk_label_new(L10n::text("toc.empty").c_str());
    gtk_widget_set_name(emptyLabel_, "toc.empty");
    gtk_widget_add_css_class(emptyLabel_, "dim-label");
    gtk_widget_set_vexpand(emptyLabel_, TRUE);
    gtk_widget_set_valign(emptyLabel_, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_start(emptyLabel_, 12);
    gtk_widget_set_visible(emptyLabel_, FALSE);
    gtk_box_append(GTK_BOX(root_.get()), emptyLabel_);

    // The file-path menu on a right click or a long press anywhere in the
    // sidebar, made at the first (see contextMenu()).
    GtkGesture* click = gtk_gesture_click_new();
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), GDK_BUTTON_SECONDARY);
    secondaryClick_ =
        SignalConnection::connect(click, "pressed", G_CALLBACK(secondaryPressed), this);
    gtk_widget_add_controller(root_.get(), GTK_EVENT_CONTROLLER(click));
    GtkGesture* press = gtk_gesture_long_press_new();
    gtk_gesture_single_set_touch_only(GTK_GESTURE_SINGLE(press), TRUE);
    longPress_ = SignalConnection::connect(press, "pressed", G_CALLBACK(longPressed), this);
    gtk_widget_add_controller(root_.get(), GTK_EVENT_CONTROLLER(press));
}

OutlineSidebar::~OutlineSidebar() {
    // The root may outlive the sidebar in a parent being torn down: it must
    // not call back into it.
    setup_.disconnect();
    bind_.disconnect();
    activate_.disconnect();
    selectionChanged_.disconnect();
    secondaryClick_.disconnect();
    longPress_.disconnect();
    primaryPress_.disconnect();
    primaryRelease_.disconnect();
    primaryStop_.disconnect();
    focusEnter_.disconnect();
    if (refocus_) g_source_remove(refocus_);
    if (contextMenu_) gtk_widget_unparent(contextMenu_);
    gtk_list_view_set_model(GTK_LIST_VIEW(list_), nullptr);
}

GtkWidget* OutlineSidebar::contextMenu() {
    if (contextMenu_) return contextMenu_;
    // Its "win." items reach the window up the widget tree. Each item
    // watches its action: made for every tab up front, a window of a
    // thousand tabs would update thousands of hidden items whenever an
    // action's state changes.
    const GObjectPtr<GMenu> menu = FilePathMenu::makeContextMenu();
    contextMenu_ = gtk_popover_menu_new_from_model(G_MENU_MODEL(menu.get()));
    gtk_widget_set_name(contextMenu_, "Orvik.tocContextMenu");
    gtk_popover_set_has_arrow(GTK_POPOVER(contextMenu_), FALSE);
    gtk_widget_set_halign(contextMenu_, GTK_ALIGN_START);
    gtk_widget_set_parent(contextMenu_, root_.get());
    return contextMenu_;
}

void OutlineSidebar::showContextMenu(double x, double y) {
    GtkWidget* menu = contextMenu();
    const GdkRectangle at{static_cast<int>(x), static_cast<int>(y), 1, 1};
    gtk_popover_set_pointing_to(GTK_POPOVER(menu), &at);
    gtk_popover_popup(GTK_POPOVER(menu));
}

void OutlineSidebar::secondaryPressed(GtkGestureClick* gesture, int, double x, double y,
                                      gpointer self) {
    gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_CLAIMED);
    static_cast<OutlineSidebar*>(self)->showContextMenu(x, y);
}

void OutlineSidebar::longPressed(GtkGestureLongPress*, double x, double y, gpointer self) {
    static_cast<OutlineSidebar*>(self)->showContextMenu(x, y);
}

GtkListView* OutlineSidebar::listView() const {
    return GTK_LIST_VIEW(list_);
}

void OutlineSidebar::update(const std::vector<BridgeHeading>& headings) {
    const bool changed = outline_.update(headings);
    gtk_widget_set_visible(emptyLabel_, outline_.showsEmptyState());
    gtk_widget_set_visible(scroller_, outline_.hasHeadingList() && !outline_.tree().empty());
    if (!changed) return;
    rebuild();
    if (const auto node = outline_.selectedNode()) select(*node);
}

void OutlineSidebar::rebuild() {
    ++rebuilds_;
    const TOCTree& tree = outline_.tree();
    std::string rows;
    for (const TOCNode& node : tree.nodes) {
        if (!rows.empty()) rows += " / ";
        rows += TOCRow::displayText(node.heading);
    }
    AppLog::layout.debug("目录：%ld 行 %{private}s", static_cast<long>(tree.nodes.size()), rows);
    GListStore* roots = storeOf(tree, tree.roots);
    GtkTreeListModel* model = gtk_tree_list_model_new(G_LIST_MODEL(roots), FALSE, TRUE, childrenOf,
                                                      new TOCTree(tree), deleteTree);
    programmatic_ = true;
    gtk_single_selection_set_model(selection_.get(), G_LIST_MODEL(model));
    gtk_single_selection_set_selected(selection_.get(), GTK_INVALID_LIST_POSITION);
    programmatic_ = false;
    g_object_unref(model);
}

void OutlineSidebar::highlight(std::string identifier) {
    if (const auto node = outline_.highlight(std::move(identifier))) select(*node);
}

std::optional<unsigned> OutlineSidebar::rowPosition(std::size_t node) const {
    // The row is found down the node's path from its root, a level at a
    // time, rather than by reading every row before it (which cost tens of
    // milliseconds at each new active heading of a long document). A node
    // under a collapsed row has no row.
    const TOCTree& tree = outline_.tree();
    auto* model = GTK_TREE_LIST_MODEL(gtk_single_selection_get_model(selection_.get()));
    if (!model || node >= tree.nodes.size()) return std::nullopt;
    std::vector<std::size_t> path;
    for (std::optional<std::size_t> at = node; at; at = tree.nodes[*at].parent) path.push_back(*at);
    GObjectPtr<GtkTreeListRow> row = GObjectPtr<GtkTreeListRow>::adopt(gtk_tree_list_model_get_child_row(
        model, static_cast<unsigned>(tree.nodes[path.back()].siblingIndex)));
    for (auto step = path.rbegin() + 1; row && step != path.rend(); ++step) {
        row = GObjectPtr<GtkTreeListRow>::adopt(gtk_tree_list_row_get_child_row(
            row.get(), static_cast<unsigned>(tree.nodes[*step].siblingIndex)));
    }
    if (!row || nodeOfItem(row.get()) != node) return std::nullopt;
    return gtk_tree_list_row_get_position(row.get());
}

void OutlineSidebar::select(std::size_t node) {
    const std::optional<unsigned> position = rowPosition(node);
    if (!position) return;
    if (gtk_single_selection_get_selected(selection_.get()) == *position) return;
    programmatic_ = true;
    gtk_single_selection_set_selected(selection_.get(), *position);
    programmatic_ = false;
    gtk_widget_activate_action(list_, "list.scroll-to-item", "u", *position);
}

void OutlineSidebar::picked(unsigned position) {
    GObjectPtr<GObject> row = GObjectPtr<GObject>::adopt(
        static_cast<GObject*>(g_list_model_get_item(G_LIST_MODEL(selection_.get()), position)));
    if (!row) return;
    const std::optional<std::size_t> node = nodeOfItem(row.get());
    if (!node) return;
    const std::optional<BridgeHeading> heading = outline_.userPicked(*node);
    if (heading && onSelectHeading) onSelectHeading(*heading);
}

void OutlineSidebar::selectionChanged(GtkSingleSelection* selection, unsigned, unsigned,
                                      gpointer self) {
    auto* sidebar = static_cast<OutlineSidebar*>(self);
    const unsigned position = gtk_single_selection_get_selected(selection);
    // A click's own selection of its row: the click picked it already.
    const bool clicked = sidebar->clicking_ || sidebar->clickedRow_ == position;
    sidebar->clickedRow_.reset();
    if (sidebar->programmatic_ || clicked) return;
    if (position != GTK_INVALID_LIST_POSITION) sidebar->picked(position);
}

void OutlineSidebar::activated(GtkListView*, unsigned position, gpointer self) {
    static_cast<OutlineSidebar*>(self)->picked(position);
}

void OutlineSidebar::focusEntered(GtkEventControllerFocus*, gpointer self) {
    // The list gives the focus to the row it last had it on (the first at
    // the start), and the next arrow key would select from there and scroll
    // the page far away. It goes to the row of the heading being read, once
    // the list has taken it and before the next key.
    auto* sidebar = static_cast<OutlineSidebar*>(self);
    if (sidebar->refocus_) return;
    sidebar->refocus_ = g_idle_add_full(
        G_PRIORITY_HIGH,
        [](gpointer data) -> gboolean {
            auto* outline = static_cast<OutlineSidebar*>(data);
            outline->refocus_ = 0;
            outline->focusCurrentRow();
            return G_SOURCE_REMOVE;
        },
        sidebar, nullptr);
}

void OutlineSidebar::focusCurrentRow() {
    const unsigned position = gtk_single_selection_get_selected(selection_.get());
    GtkRoot* root = gtk_widget_get_root(list_);
    GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
    if (position == GTK_INVALID_LIST_POSITION || !focus || !gtk_widget_is_ancestor(focus, list_)) return;
    // The rows shown are the list's children, each a row widget around its
    // tree expander; the selected row is among them (the highlight scrolls
    // it into view).
    for (GtkWidget* child = gtk_widget_get_first_child(list_); child; child = gtk_widget_get_next_sibling(child)) {
        GtkWidget* expander = gtk_widget_get_first_child(child);
        if (!expander || !GTK_IS_TREE_EXPANDER(expander)) continue;
        GtkTreeListRow* row = gtk_tree_expander_get_list_row(GTK_TREE_EXPANDER(expander));
        if (!row || gtk_tree_list_row_get_position(row) != position) continue;
        if (focus != child && !gtk_widget_is_ancestor(focus, child)) gtk_widget_grab_focus(child);
        return;
    }
}

void OutlineSidebar::primaryPressed(GtkGestureClick*, int, double, double, gpointer self) {
    auto* sidebar = static_cast<OutlineSidebar*>(self);
    sidebar->clicking_ = true;
    sidebar->clickedRow_.reset();
}

void OutlineSidebar::primaryReleased(GtkGestureClick*, int, double x, double y, gpointer self) {
    auto* sidebar = static_cast<OutlineSidebar*>(self);
    if (!sidebar->clicking_) return;
    sidebar->clicking_ = false;
    const std::optional<unsigned> position = sidebar->rowAt(x, y);
    if (!position) return;
    sidebar->clickedRow_ = *position;
    sidebar->picked(*position);
}

void OutlineSidebar::primaryStopped(GtkGestureClick*, gpointer self) {
    static_cast<OutlineSidebar*>(self)->clicking_ = false;
}

// The row at (x, y) in the list's coordinates: the tree expander of the row
// widget under the point (the widget picked, or the row widget around it).
std::optional<unsigned> OutlineSidebar::rowAt(double x, double y) const {
    GtkWidget* widget = gtk_widget_pick(list_, x, y, GTK_PICK_DEFAULT);
    GtkWidget* rowWidget = nullptr;
    for (; widget && widget != list_; widget = gtk_widget_get_parent(widget)) {
        if (GTK_IS_TREE_EXPANDER(widget)) break;
        rowWidget = widget;
    }
    if (!widget || widget == list_) {
        // Between the row's edge and its content.
        widget = rowWidget ? gtk_widget_get_first_child(rowWidget) : nullptr;
        if (!widget || !GTK_IS_TREE_EXPANDER(widget)) return std::nullopt;
    }
    GtkTreeListRow* row = gtk_tree_expander_get_list_row(GTK_TREE_EXPANDER(widget));
    if (!row) return std::nullopt;
    const unsigned position = gtk_tree_list_row_get_position(row);
    if (position >= g_list_model_get_n_items(G_LIST_MODEL(selection_.get()))) return std::nullopt;
    return position;
}

void OutlineSidebar::setupRow(GtkSignalListItemFactory*, GObject* item, gpointer) {
    GtkWidget* expander = gtk_tree_expander_new();
    GtkWidget* label = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_widget_set_margin_end(label, 4);
    gtk_tree_expander_set_child(GTK_TREE_EXPANDER(expander), label);
    gtk_list_item_set_child(GTK_LIST_ITEM(item), expander);
}

void OutlineSidebar::bindRow(GtkSignalListItemFactory*, GObject* item, gpointer self) {
    auto* sidebar = static_cast<OutlineSidebar*>(self);
    GtkListItem* listItem = GTK_LIST_ITEM(item);
    GtkWidget* expander = gtk_list_item_get_child(listItem);
    gpointer row = gtk_list_item_get_item(listItem);
    if (!expander || !GTK_IS_TREE_LIST_ROW(row)) return;
    gtk_tree_expander_set_list_row(GTK_TREE_EXPANDER(expander), GTK_TREE_LIST_ROW(row));
    const std::optional<std::size_t> node = nodeOfItem(row);
    const TOCTree& tree = sidebar->outline_.tree();
    if (!node || *node >= tree.nodes.size()) return;
    const BridgeHeading& heading = tree.nodes[*node].heading;
    GtkWidget* label = gtk_tree_expander_get_child(GTK_TREE_EXPANDER(expander));
    gtk_label_set_text(GTK_LABEL(label), TOCRow::displayText(heading).c_str());
    // The heading's whole text, over a row too narrow for it.
    Tooltips::setWhenCut(label, TOCRow::tooltip(heading));
    if (TOCRow::isEmphasized(heading))
        gtk_widget_add_css_class(label, "heading");
    else
        gtk_widget_remove_css_class(label, "heading");
    if (TOCRow::isSecondary(heading))
        gtk_widget_add_css_class(label, "dim-label");
    else
        gtk_widget_remove_css_class(label, "dim-label");
    gtk_accessible_update_property(GTK_ACCESSIBLE(label), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   TOCRow::accessibilityLabel(heading).c_str(), -1);
}

}  // namespace larkspin
