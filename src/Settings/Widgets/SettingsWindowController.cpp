#include "Settings/Widgets/SettingsWindowController.hpp"

#include <adwaita.h>

#include <cmath>
#include <map>

#include "Platform/UserDefaults.hpp"
#include "Settings/SettingsModel.hpp"
#include "Settings/Widgets/AppearancePage.hpp"
#include "Settings/Widgets/SimplePages.hpp"
#include "Settings/Widgets/TypographyPage.hpp"

namespace larkspin {

namespace {

constexpr int sidebarWidth = 236;

constexpr const char* css = R"css(
.settings-sidebar-name { font-weight: 600; font-size: 14px; }
.settings-page-title { font-weight: 600; font-size: 17px; }
.settings-about-name { font-weight: 700; font-size: 24px; letter-spacing: -0.4px; }
.settings-tile { color: white; }
button.settings-theme-card { padding: 0; background: none; box-shadow: none; border-radius: 9px; }
.settings-sidebar .navigation-sidebar > row { padding: 6px 7px; }
)css";

void installStyle() {
    static bool installed = false;
    GdkDisplay* display = gdk_display_get_default();
    if (installed || !display) return;
    installed = true;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1);
    gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(provider),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

void drawTile(GtkDrawingArea*, cairo_t* cr, int width, int height, void* data) {
    const TileColors colors = tileColors(static_cast<SettingsTab>(GPOINTER_TO_INT(data)));
    const double r = 6.5;
    const double w = width;
    const double h = height;
    cairo_new_sub_path(cr);
    cairo_arc(cr, w - r, r, r, -M_PI / 2, 0);
    cairo_arc(cr, w - r, h - r, r, 0, M_PI / 2);
    cairo_arc(cr, r, h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, r, r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, 0, h);
    cairo_pattern_add_color_stop_rgb(gradient, 0, colors.top[0], colors.top[1], colors.top[2]);
    cairo_pattern_add_color_stop_rgb(gradient, 1, colors.bottom[0], colors.bottom[1],
                                     colors.bottom[2]);
    cairo_set_source(cr, gradient);
    cairo_fill(cr);
    cairo_pattern_destroy(gradient);
}

// A tab's tile and title.
GtkWidget* navigationRow(SettingsTab tab) {
    GtkWidget* tile = gtk_drawing_area_new();
    gtk_drawing_area_set_content_width(GTK_DRAWING_AREA(tile), 24);
    gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(tile), 24);
    gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(tile), drawTile,
                                   GINT_TO_POINTER(static_cast<int>(tab)), nullptr);
    GtkWidget* icon = gtk_image_new_from_icon_name(std::string(iconName(tab)).c_str());
    gtk_image_set_pixel_size(GTK_IMAGE(icon), 12);
    gtk_widget_add_css_class(icon, "settings-tile");
    gtk_widget_set_halign(icon, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(icon, GTK_ALIGN_CENTER);
    GtkWidget* overlay = gtk_overlay_new();
    gtk_overlay_set_child(GTK_OVERLAY(overlay), tile);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), icon);
    gtk_widget_set_valign(overlay, GTK_ALIGN_CENTER);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 11);
    gtk_widget_set_margin_top(box, 2);
    gtk_widget_set_margin_bottom(box, 2);
    gtk_box_append(GTK_BOX(box), overlay);
    GtkWidget* label = gtk_label_new(title(tab).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_box_append(GTK_BOX(box), label);

    GtkWidget* row = gtk_list_box_row_new();
    gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(row), box);
    g_object_set_data(G_OBJECT(row), "larkspin-tab", GINT_TO_POINTER(static_cast<int>(tab) + 1));
    return row;
}

GtkWidget* navigationList() {
    GtkWidget* list = gtk_list_box_new();
    gtk_widget_add_css_class(list, "navigation-sidebar");
    gtk_list_box_set_selection_mode(GTK_LIST_BOX(list), GTK_SELECTION_SINGLE);
    return list;
}

}  // namespace

struct SettingsWindowController::Parts {
    std::map<SettingsTab, std::unique_ptr<SettingsPage>> pages;
    std::map<SettingsTab, GtkWidget*> rows;
    GtkWidget* list = nullptr;
    GtkWidget* aboutList = nullptr;
    GtkWidget* stack = nullptr;
    GtkWidget* scroller = nullptr;
    GtkWidget* pageTitle = nullptr;
    AboutSettingsPage* about = nullptr;
    bool updateGroupPlaced = false;
};

SettingsWindowController::SettingsWindowController(SettingsModel& model, UserDefaults& defaults,
                                                   Options options)
    : model_(model), defaults_(defaults), options_(std::move(options)) {
    selection_.observe([this](SettingsTab tab) { tabChanged(tab); });
    modelChanged_ = model_.center().addObserver(std::string(SettingsModel::didChangeNotification),
                                                &model_, [this](const Notification&) { refreshPages(); });
}

SettingsWindowController::~SettingsWindowController() {
    modelChanged_.reset();
    if (parts_) {
        for (auto& [tab, page] : parts_->pages) page->freeze();
    }
    signals_.clear();
    if (window_) {
        gtk_window_destroy(window_);
        window_ = nullptr;
    }
    parts_.reset();
    retired_.clear();
}

void SettingsWindowController::show(std::optional<SettingsTab> tab) {
    const bool made = !window_;
    if (made) window_ = makeWindow();
    if (tab && !selection_.setTab(*tab) && made) tabChanged(selection_.tab());
    if (!tab && made) tabChanged(selection_.tab());
    if (made) {
        // The first focus goes to the selected tab's row: a list given the
        // focus otherwise selects its first row, which would switch tabs.
        const auto row = parts_->rows.find(selection_.tab());
        if (row != parts_->rows.end()) gtk_window_set_focus(window_, row->second);
    }
    gtk_window_present(window_);
}

void SettingsWindowController::setUpdateGroup(std::function<GtkWidget*()> make) {
    makeUpdateGroup_ = std::move(make);
    placeUpdateGroup();
}

void SettingsWindowController::placeUpdateGroup() {
    if (!parts_ || !parts_->about || parts_->updateGroupPlaced || !makeUpdateGroup_) return;
    parts_->updateGroupPlaced = true;
    parts_->about->setUpdateGroup(makeUpdateGroup_());
}

GtkScrolledWindow* SettingsWindowController::pageScroller() const {
    return parts_ ? GTK_SCROLLED_WINDOW(parts_->scroller) : nullptr;
}

SettingsPage* SettingsWindowController::page(SettingsTab tab) const {
    if (!parts_) return nullptr;
    const auto found = parts_->pages.find(tab);
    return found == parts_->pages.end() ? nullptr : found->second.get();
}

GtkWidget* SettingsWindowController::makeSidebar() {
    GtkWidget* sidebar = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_add_css_class(sidebar, "settings-sidebar");
    gtk_widget_set_size_request(sidebar, sidebarWidth, -1);
    gtk_widget_set_hexpand(sidebar, FALSE);

    GtkWidget* header = adw_header_bar_new();
    adw_header_bar_set_show_end_title_buttons(ADW_HEADER_BAR(header), FALSE);
    adw_header_bar_set_title_widget(ADW_HEADER_BAR(header), gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0));
    gtk_widget_add_css_class(header, "flat");
    gtk_box_append(GTK_BOX(sidebar), header);

    GtkWidget* identity = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 11);
    gtk_widget_set_margin_start(identity, 18);
    gtk_widget_set_margin_top(identity, 4);
    gtk_widget_set_margin_bottom(identity, 22);
    gtk_box_append(GTK_BOX(identity), makeAppIcon(42));
    GtkWidget* name = gtk_label_new(options_.info.displayName().c_str());
    gtk_widget_add_css_class(name, "settings-sidebar-name");
    gtk_box_append(GTK_BOX(identity), name);
    gtk_box_append(GTK_BOX(sidebar), identity);

    parts_->list = navigationList();
    gtk_widget_set_vexpand(parts_->list, TRUE);
    for (SettingsTab tab : sidebarListTabs(options_.sourceEditing)) {
        GtkWidget* row = navigationRow(tab);
        parts_->rows[tab] = row;
        gtk_list_box_append(GTK_LIST_BOX(parts_->list), row);
    }
    signals_.push_back(SignalConnection::connect(parts_->list, "row-selected", G_CALLBACK(onRowSelected), this));
    gtk_box_append(GTK_BOX(sidebar), parts_->list);

    // About stands apart at the foot, drawn as a row of its own list.
    parts_->aboutList = navigationList();
    gtk_widget_set_margin_bottom(parts_->aboutList, 6);
    GtkWidget* aboutRow = navigationRow(SettingsTab::about);
    parts_->rows[SettingsTab::about] = aboutRow;
    gtk_list_box_append(GTK_LIST_BOX(parts_->aboutList), aboutRow);
    signals_.push_back(SignalConnection::connect(parts_->aboutList, "row-selected", G_CALLBACK(onRowSelected), this));
    gtk_box_append(GTK_BOX(sidebar), parts_->aboutList);
    return sidebar;
}

GtkWindow* SettingsWindowController::makeWindow() {
    installStyle();
    signals_.clear();  // those of a window closed before
    parts_ = std::make_unique<Parts>();
    GtkWidget* window = adw_window_new();
    gtk_widget_set_name(window, "Orvik.settingsWindow");
    gtk_window_set_hide_on_close(GTK_WINDOW(window), TRUE);
    gtk_widget_set_size_request(window, SettingsWindowFrame::minimumWidth,
                                SettingsWindowFrame::minimumHeight);
    SettingsWindowFrame frame;
    if (const auto stored = defaults_.string(SettingsWindowFrame::key)) {
        if (const auto parsed = SettingsWindowFrame::parse(*stored)) frame = *parsed;
    }
    gtk_window_set_default_size(GTK_WINDOW(window), frame.width, frame.height);
    if (frame.maximized) gtk_window_maximize(GTK_WINDOW(window));
    if (options_.application) gtk_window_set_application(GTK_WINDOW(window), options_.application);
    // A group of its own: a message modal on a document window (a close
    // question, an update check's answer) holds that window only, not this
    // one opened over it. Its own messages join it and hold it.
    GtkWindowGroup* group = gtk_window_group_new();
    gtk_window_group_add_window(group, GTK_WINDOW(window));
    g_object_unref(group);

    // Pages.
    parts_->stack = gtk_stack_new();
    gtk_stack_set_transition_type(GTK_STACK(parts_->stack), GTK_STACK_TRANSITION_TYPE_NONE);
    gtk_widget_set_margin_top(parts_->stack, 24);
    gtk_widget_set_margin_bottom(parts_->stack, 24);
    gtk_widget_set_margin_start(parts_->stack, 12);
    gtk_widget_set_margin_end(parts_->stack, 22);
    parts_->pages[SettingsTab::general] = std::make_unique<GeneralSettingsPage>(model_);
    parts_->pages[SettingsTab::appearance] = std::make_unique<AppearanceSettingsPage>(model_);
    parts_->pages[SettingsTab::typography] = std::make_unique<TypographySettingsPage>(model_);
    parts_->pages[SettingsTab::editor] = std::make_unique<EditorSettingsPage>(model_);
    auto about = std::make_unique<AboutSettingsPage>(model_, options_.info);
    parts_->about = about.get();
    parts_->pages[SettingsTab::about] = std::move(about);
    for (const auto& [tab, page] : parts_->pages) {
        gtk_stack_add_named(GTK_STACK(parts_->stack), page->widget(),
                            std::string(rawValue(tab)).c_str());
    }

    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_hexpand(content, TRUE);
    GtkWidget* header = adw_header_bar_new();
    adw_header_bar_set_show_start_title_buttons(ADW_HEADER_BAR(header), FALSE);
    adw_header_bar_set_title_widget(ADW_HEADER_BAR(header), gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0));
    gtk_widget_add_css_class(header, "flat");
    gtk_box_append(GTK_BOX(content), header);
    parts_->pageTitle = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(parts_->pageTitle), 0);
    gtk_widget_add_css_class(parts_->pageTitle, "settings-page-title");
    gtk_widget_set_margin_start(parts_->pageTitle, 26);
    gtk_widget_set_margin_bottom(parts_->pageTitle, 4);
    gtk_box_append(GTK_BOX(content), parts_->pageTitle);
    // One scroller for every page, as tall as the page shown: each page
    // opens at its top (tabChanged).
    gtk_stack_set_vhomogeneous(GTK_STACK(parts_->stack), FALSE);
    GtkWidget* scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_widget_set_vexpand(scroller, TRUE);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), parts_->stack);
    gtk_box_append(GTK_BOX(content), scroller);
    parts_->scroller = scroller;

    GtkWidget* split = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_append(GTK_BOX(split), makeSidebar());
    gtk_box_append(GTK_BOX(split), gtk_separator_new(GTK_ORIENTATION_VERTICAL));
    gtk_box_append(GTK_BOX(split), content);
    adw_window_set_content(ADW_WINDOW(window), split);

    // Ctrl+W and Escape close this window (closing hides it). The window's
    // own shortcuts come before the application's: Ctrl+W is also the
    // application's close command, which acts on the document windows.
    GtkEventController* keys = gtk_shortcut_controller_new();
    gtk_event_controller_set_name(keys, "larkspin-settings-keys");
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    gtk_shortcut_controller_set_scope(GTK_SHORTCUT_CONTROLLER(keys), GTK_SHORTCUT_SCOPE_LOCAL);
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(keys),
        gtk_shortcut_new(gtk_shortcut_trigger_parse_string("<Control>w|Escape"),
                         gtk_named_action_new("window.close")));
    gtk_widget_add_controller(window, keys);

    // After the size is set: only the user's changes are remembered.
    signals_.push_back(SignalConnection::connect(window, "notify::default-width", G_CALLBACK(onSizeChanged), this));
    signals_.push_back(SignalConnection::connect(window, "notify::default-height", G_CALLBACK(onSizeChanged), this));
    signals_.push_back(SignalConnection::connect(window, "notify::maximized", G_CALLBACK(onSizeChanged), this));
    signals_.push_back(SignalConnection::connect(window, "destroy", G_CALLBACK(onDestroyed), this));
    window_ = GTK_WINDOW(window);
    placeUpdateGroup();
    return GTK_WINDOW(window);
}

void SettingsWindowController::tabChanged(SettingsTab tab) {
    if (!parts_) return;
    syncingSidebar_ = true;
    const bool inList = tab != SettingsTab::about;
    GtkListBox* selected = GTK_LIST_BOX(inList ? parts_->list : parts_->aboutList);
    GtkListBox* other = GTK_LIST_BOX(inList ? parts_->aboutList : parts_->list);
    gtk_list_box_unselect_all(other);
    const auto row = parts_->rows.find(tab);
    if (row != parts_->rows.end()) {
        gtk_list_box_select_row(selected, GTK_LIST_BOX_ROW(row->second));
    } else {
        // The editor page in a build that does not list it.
        gtk_list_box_unselect_all(selected);
    }
    syncingSidebar_ = false;

    const std::string text = title(tab);
    gtk_stack_set_visible_child_name(GTK_STACK(parts_->stack), std::string(rawValue(tab)).c_str());
    GtkAdjustment* scroll =
        gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(parts_->scroller));
    gtk_adjustment_set_value(scroll, gtk_adjustment_get_lower(scroll));
    gtk_label_set_text(GTK_LABEL(parts_->pageTitle), text.c_str());
    gtk_window_set_title(window_, text.c_str());
    if (SettingsPage* shown = page(tab)) {
        shown->refresh();
        shown->shown();
    }
}

void SettingsWindowController::refreshPages() {
    if (!parts_) return;
    for (const auto& [tab, page] : parts_->pages) page->refresh();
}

void SettingsWindowController::onRowSelected(GtkListBox*, GtkListBoxRow* row, void* data) {
    auto* self = static_cast<SettingsWindowController*>(data);
    if (self->syncingSidebar_ || !row) return;
    const int stored = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(row), "larkspin-tab"));
    if (stored <= 0) return;
    self->selection_.setTab(static_cast<SettingsTab>(stored - 1));
}

void SettingsWindowController::onSizeChanged(GObject*, GParamSpec*, void* data) {
    static_cast<SettingsWindowController*>(data)->saveFrame();
}

// Destroyed by someone else (the application at its end): the next show()
// makes a new window.
void SettingsWindowController::onDestroyed(GtkWidget*, void* data) {
    auto* self = static_cast<SettingsWindowController*>(data);
    for (auto& [tab, page] : self->parts_->pages) page->freeze();
    self->window_ = nullptr;
    // Kept until the controller goes: the widgets being disposed may still
    // call their (frozen) pages.
    self->retired_.push_back(std::move(self->parts_));
}

void SettingsWindowController::saveFrame() {
    if (!window_) return;
    int width = 0;
    int height = 0;
    // While maximised this stays the size the window returns to.
    gtk_window_get_default_size(window_, &width, &height);
    if (width <= 0 || height <= 0) return;
    SettingsWindowFrame frame;
    frame.width = std::max(width, SettingsWindowFrame::minimumWidth);
    frame.height = std::max(height, SettingsWindowFrame::minimumHeight);
    frame.maximized = gtk_window_is_maximized(window_);
    const std::string text = frame.text();
    // Unchanged, or still the default that nobody chose: nothing to write.
    const auto stored = defaults_.string(SettingsWindowFrame::key);
    if (stored ? *stored == text : frame == SettingsWindowFrame{}) return;
    defaults_.setString(SettingsWindowFrame::key, text);
}

}  // namespace larkspin
