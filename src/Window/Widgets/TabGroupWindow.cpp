#include "Window/Widgets/TabGroupWindow.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Glib/ActionMapBinding.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Localization.hpp"
#include "Reader/Widgets/Tooltips.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/KeyboardFocusRing.hpp"
#include "Window/Widgets/PopoverFocusReturn.hpp"
#include "Window/Widgets/TabFocus.hpp"
#include "Window/Widgets/TabGroups.hpp"
#include "Window/WindowActions.hpp"

namespace larkspin {

namespace {

constexpr const char* groupKey = "larkspin-tab-group";

GtkWidget* headerButton(const char* icon, const char* action, const char* labelKey,
                        const char* tooltipKey) {
    GtkWidget* button = gtk_button_new_from_icon_name(icon);
    gtk_actionable_set_action_name(GTK_ACTIONABLE(button), action);
    Tooltips::set(button, L10n::text(tooltipKey));
    gtk_accessible_update_property(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text(labelKey).c_str(), -1);
    return button;
}

// The tab of `child` in `view`, or null (adw_tab_view_get_page complains
// about a child it does not hold).
AdwTabPage* tabOf(AdwTabView* view, GtkWidget* child) {
    const int count = adw_tab_view_get_n_pages(view);
    for (int index = 0; index < count; ++index) {
        AdwTabPage* tab = adw_tab_view_get_nth_page(view, index);
        if (adw_tab_page_get_child(tab) == child) return tab;
    }
    return nullptr;
}

}  // namespace

TabGroupWindow& TabGroupWindow::create(TabGroups& groups, GtkApplication* application,
                                       SessionChanges sessionChanges) {
    auto* group = new TabGroupWindow(groups, application, std::move(sessionChanges));
    group->build();
    return *group;
}

TabGroupWindow* TabGroupWindow::of(GtkWindow* window) {
    if (!window) return nullptr;
    return static_cast<TabGroupWindow*>(g_object_get_data(G_OBJECT(window), groupKey));
}

DocumentPage* TabGroupWindow::pageOf(GtkWidget* child) const { return groups_.pageOf(child); }

SessionGroup TabGroupWindow::sessionGroup(std::int64_t token) const {
    SessionGroup group;
    // The window's own size, as it opens with it again: GTK keeps the default
    // size at the unmaximised size the window has. The sensor measures only
    // the content beneath the bars, so a session kept by it would shrink the
    // window at each launch; it stands in before a default size is known.
    int width = 0, height = 0;
    gtk_window_get_default_size(window_, &width, &height);
    group.width = width > 0 ? width : width_;
    group.height = height > 0 ? height : height_;
    const DocumentPage* selected = selectedPage();
    std::int64_t index = 0;
    for (const DocumentPage* page : pages()) {
        const auto path = page->document().filePath();
        if (!path || path->empty()) continue;
        SessionTab tab;
        tab.path = path->string();
        tab.info = TabRestorationInfo{token, index++, page == selected};
        group.tabs.push_back(std::move(tab));
    }
    return group;
}

TabGroupWindow::TabGroupWindow(TabGroups& groups, GtkApplication* application, SessionChanges sessionChanges)
    : groups_(groups),
      application_(application),
      sessionChanges_(std::move(sessionChanges)),
      idleActions_(WindowActions::make({})) {
    groups_.join(*this);
}

TabGroupWindow::~TabGroupWindow() {
    closeRequest_.disconnect();
    destroy_.disconnect();
    active_.disconnect();
    selected_.disconnect();
    attached_.disconnect();
    detached_.disconnect();
    close_.disconnect();
    create_.disconnect();
    resize_.disconnect();
    binding_.reset();
    focusReturn_.reset();
    tabFocus_.reset();
    focusRing_.reset();
    // Pages still in the window go with it.
    const int count = adw_tab_view_get_n_pages(view_);
    for (int index = 0; index < count; ++index) {
        groups_.release(adw_tab_page_get_child(adw_tab_view_get_nth_page(view_, index)));
    }
    g_object_set_data(G_OBJECT(window_), groupKey, nullptr);
    groups_.leave(*this);
    sessionChanges_.note();
}

void TabGroupWindow::build() {
    window_ = GTK_WINDOW(g_object_new(ADW_TYPE_APPLICATION_WINDOW, nullptr));
    g_object_set_data(G_OBJECT(window_), groupKey, this);
    // Before the application's own handler, which may take this close for a
    // quit: a tab dragged out of the window gets a window of its own first.
    closeRequest_ = SignalConnection::connect(window_, "close-request", G_CALLBACK(closeRequested), this);
    if (application_) gtk_window_set_application(window_, application_);
    binding_ = std::make_unique<ActionMapBinding>(G_ACTION_MAP(window_), idleActions_);
    gtk_widget_add_css_class(GTK_WIDGET(window_), "larkspin-document");
    gtk_window_set_default_size(window_, 1180, 820);
    gtk_widget_set_size_request(GTK_WIDGET(window_), 760, 520);

    GtkWidget* header = adw_header_bar_new();
    sidebarButton_ = headerButton("sidebar-show-symbolic", "win.toggle-sidebar",
                                  "toolbar.toc.label", "toolbar.toc.tooltip");
    findButton_ = headerButton("edit-find-symbolic", "win.show-find-bar", "toolbar.find.label",
                               "toolbar.find.tooltip");
    GMenu* menu = g_menu_new();
    g_menu_append(menu, L10n::text("toolbar.toc.label").c_str(), "win.toggle-sidebar");
    g_menu_append(menu, L10n::text("toolbar.find.label").c_str(), "win.show-find-bar");
    menuButton_ = gtk_menu_button_new();
    gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(menuButton_), "open-menu-symbolic");
    gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(menuButton_), G_MENU_MODEL(menu));
    gtk_menu_button_set_primary(GTK_MENU_BUTTON(menuButton_), TRUE);
    Tooltips::set(menuButton_, L10n::text("toolbar.menu.tooltip"));
    g_object_unref(menu);
    adw_header_bar_pack_start(ADW_HEADER_BAR(header), sidebarButton_);
    adw_header_bar_pack_end(ADW_HEADER_BAR(header), menuButton_);
    adw_header_bar_pack_end(ADW_HEADER_BAR(header), findButton_);

    view_ = adw_tab_view_new();
    viewHold_ = GObjectPtr<AdwTabView>::adopt(view_);
    gtk_widget_set_vexpand(GTK_WIDGET(view_), TRUE);
    bar_ = GTK_WIDGET(adw_tab_bar_new());
    adw_tab_bar_set_view(ADW_TAB_BAR(bar_), view_);

    // GTK has no resize signal for windows: a drawing area over the content,
    // drawing nothing and taking no input, reports the width it is given.
    sensor_ = gtk_drawing_area_new();
    gtk_widget_set_can_target(sensor_, FALSE);
    gtk_widget_set_can_focus(sensor_, FALSE);
    GtkWidget* overlay = gtk_overlay_new();
    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(content), header);
    gtk_box_append(GTK_BOX(content), bar_);
    gtk_box_append(GTK_BOX(content), GTK_WIDGET(view_));
    gtk_overlay_set_child(GTK_OVERLAY(overlay), content);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), sensor_);
    adw_application_window_set_content(ADW_APPLICATION_WINDOW(window_), overlay);

    GtkEventController* shortcuts = gtk_shortcut_controller_new();
    gtk_event_controller_set_name(shortcuts, "Orvik.windowShortcuts");
    gtk_event_controller_set_propagation_phase(shortcuts, GTK_PHASE_CAPTURE);
    for (const WindowActions::Shortcut& shortcut : WindowActions::shortcuts()) {
        for (const std::string_view accelerator : shortcut.accelerators) {
            GtkShortcutTrigger* trigger =
                gtk_shortcut_trigger_parse_string(std::string(accelerator).c_str());
            GtkShortcutAction* action = gtk_named_action_new(std::string(shortcut.action).c_str());
            if (!trigger) {
                g_object_unref(action);
                continue;
            }
            gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(shortcuts),
                                                 gtk_shortcut_new(trigger, action));
        }
    }
    shortcuts_ = shortcuts;
    gtk_widget_add_controller(GTK_WIDGET(window_), shortcuts);

    // A menu chosen with the pointer leaves the keys to the page again.
    focusReturn_ = std::make_unique<PopoverFocusReturn>(window_, [this]() -> GtkWidget* {
        DocumentPage* page = selectedPage();
        return page ? page->modeContainer().widget() : nullptr;
    });
    tabFocus_ = std::make_unique<TabFocus>(window_, view_, groups_);
    focusRing_ = std::make_unique<KeyboardFocusRing>(window_);
    destroy_ = SignalConnection::connect(window_, "destroy", G_CALLBACK(destroyed), this);
    active_ =
        SignalConnection::connect(window_, "notify::is-active", G_CALLBACK(activeChanged), this);
    selected_ = SignalConnection::connect(view_, "notify::selected-page",
                                          G_CALLBACK(selectedPageChanged), this);
    attached_ = SignalConnection::connect(view_, "page-attached", G_CALLBACK(pageAttached), this);
    detached_ = SignalConnection::connect(view_, "page-detached", G_CALLBACK(pageDetached), this);
    close_ = SignalConnection::connect(view_, "close-page", G_CALLBACK(closePage), this);
    create_ = SignalConnection::connect(view_, "create-window", G_CALLBACK(createWindow), this);
    resize_ = SignalConnection::connect(sensor_, "resize", G_CALLBACK(resized), this);
    selectionChanged();
}

AdwTabPage* TabGroupWindow::add(std::unique_ptr<DocumentPage> page, bool select) {
    GtkWidget* child = page->widget();
    const std::string title = page->title();
    page->setJoinedGroup(adw_tab_view_get_n_pages(view_) > 0);
    groups_.keep(std::move(page));
    AdwTabPage* tab = adw_tab_view_append(view_, child);
    adw_tab_page_set_title(tab, title.c_str());
    if (select) adw_tab_view_set_selected_page(view_, tab);
    return tab;
}

DocumentPage* TabGroupWindow::selectedPage() const {
    AdwTabPage* selected = adw_tab_view_get_selected_page(view_);
    return selected ? pageOf(adw_tab_page_get_child(selected)) : nullptr;
}

std::vector<DocumentPage*> TabGroupWindow::pages() const {
    std::vector<DocumentPage*> result;
    const int count = adw_tab_view_get_n_pages(view_);
    for (int index = 0; index < count; ++index) {
        if (DocumentPage* page =
                pageOf(adw_tab_page_get_child(adw_tab_view_get_nth_page(view_, index)))) {
            result.push_back(page);
        }
    }
    return result;
}

void TabGroupWindow::movePage(DocumentPage& page, TabGroupWindow& target, int position) {
    AdwTabPage* tab = tabOf(view_, page.widget());
    if (!tab || &target == this) return;
    adw_tab_view_transfer_page(view_, tab, target.view_, position);
}

TabGroupWindow& TabGroupWindow::tearOff(DocumentPage& page) {
    TabGroupWindow& target = create(groups_, application_, sessionChanges_);
    movePage(page, target, 0);
    gtk_window_present(target.window());
    return target;
}

void TabGroupWindow::selectionChanged() {
    // The title and the session's note cost the same whatever the number of
    // tabs; the rest waits.
    DocumentPage* page = selectedPage();
    gtk_window_set_title(window_, page ? page->title().c_str() : "Larkspin");
    sessionChanges_.note();
    tabFocus_->selectionChanging();
    // Whatever moved the selection in this turn (a batch of tabs added, a
    // tab dragged through) is settled once, a turn later, once the window is
    // laid out: the tab view selects the first page it is given, which may
    // not be the one selected after it.
    if (settleScheduled_) return;
    settleScheduled_ = true;
    auto window = GObjectPtr<GtkWindow>::retain(window_);
    MainThread::post([window] {
        if (TabGroupWindow* group = TabGroupWindow::of(window.get())) group->settleSelection();
    });
}

void TabGroupWindow::settleSelection() {
    settleScheduled_ = false;
    DocumentPage* page = selectedPage();
    if (page && width_ > 0) page->setWindowWidth(width_);
    bindSelected();
    updateActive();
    if (page) page->shown();
    tabFocus_->settled(page);
}

void TabGroupWindow::updateActive() {
    DocumentPage* selected = selectedPage();
    DocumentPage* active = selected && gtk_window_is_active(window_) ? selected : nullptr;
    if (active == activePage_) return;
    // Only the page told it was active is told otherwise: the others were
    // never told, whatever their number.
    if (activePage_) activePage_->setWindowActive(false);
    activePage_ = active;
    if (active) active->setWindowActive(true);
}

void TabGroupWindow::bindSelected() {
    DocumentPage* page = selectedPage();
    if (page == bound_) return;
    bound_ = page;
    // The window's actions stay and answer for the page now selected: the
    // tables have one shape. Adding or removing an action reaches every
    // widget of every tab, which a window of a thousand tabs pays for in
    // seconds; they were added while the window was still empty.
    binding_->rebind(page ? page->actions() : idleActions_);
}

void TabGroupWindow::widthChanged(double width, double height) {
    if (width <= 0 || (width == width_ && height == height_)) return;
    const bool widthMoved = width != width_;
    width_ = width;
    height_ = height;
    if (DocumentPage* page = selectedPage(); page && widthMoved) page->setWindowWidth(width);
    sessionChanges_.note();
}

void TabGroupWindow::destroyed(GtkWidget*, gpointer self) {
    delete static_cast<TabGroupWindow*>(self);
}

void TabGroupWindow::selectedPageChanged(GObject*, GParamSpec*, gpointer self) {
    static_cast<TabGroupWindow*>(self)->selectionChanged();
}

void TabGroupWindow::pageAttached(AdwTabView*, AdwTabPage* tab, int, gpointer self) {
    auto* group = static_cast<TabGroupWindow*>(self);
    group->groups_.tabArrived(adw_tab_page_get_child(tab));
    if (DocumentPage* page = group->pageOf(adw_tab_page_get_child(tab))) {
        adw_tab_page_set_title(tab, page->title().c_str());
        if (group->width_ > 0) page->setWindowWidth(group->width_);
        // A page comes in as a tab behind the selected one (a new reader
        // assumes its window active); the selection tells the one in front.
        if (page != group->activePage_) page->setWindowActive(false);
    }
    group->selectionChanged();
}

void TabGroupWindow::pageDetached(AdwTabView*, AdwTabPage* tab, int, gpointer self) {
    auto* group = static_cast<TabGroupWindow*>(self);
    // The page's actions leave this window with it.
    GtkWidget* leaving = adw_tab_page_get_child(tab);
    group->groups_.tabLeft(leaving, *group);
    if (group->bound_ && group->bound_->widget() == leaving) {
        group->binding_->rebind(group->idleActions_);
        group->bound_ = nullptr;
    }
    if (group->activePage_ && group->activePage_->widget() == leaving) {
        group->activePage_->setWindowActive(false);
        group->activePage_ = nullptr;
    }
    group->selectionChanged();
    if (adw_tab_view_get_n_pages(group->view_) == 0) {
        // The last tab left (closed, or dragged to another window): the
        // window goes too, a turn later, unless a tab came back meanwhile.
        auto window = GObjectPtr<GtkWindow>::retain(group->window_);
        MainThread::post([window] {
            TabGroupWindow* emptied = TabGroupWindow::of(window.get());
            if (emptied && adw_tab_view_get_n_pages(emptied->view_) == 0) {
                // A tab of it still being dragged gets a window of its own.
                emptied->groups_.endDragsFrom(*emptied);
                if (adw_tab_view_get_n_pages(emptied->view_) == 0) gtk_window_destroy(window.get());
            }
        });
    }
}

void TabGroupWindow::refreshActions() {
    binding_->refresh();
}

gboolean TabGroupWindow::closePage(AdwTabView* view, AdwTabPage* tab, gpointer self) {
    GtkWidget* child = adw_tab_page_get_child(tab);
    TabGroups* groups = &static_cast<TabGroupWindow*>(self)->groups_;
    DocumentPage* page = groups->pageOf(child);
    if (!page) {
        adw_tab_view_close_page_finish(view, tab, TRUE);
        return GDK_EVENT_STOP;
    }
    auto viewRef = GObjectPtr<AdwTabView>::retain(view);
    auto tabRef = GObjectPtr<AdwTabPage>::retain(tab);
    // The pages outlive every window: the answer may come after this one is
    // gone.
    page->requestClose([groups, viewRef, tabRef](bool close) {
        GtkWidget* closing = adw_tab_page_get_child(tabRef.get());
        // The tab may have moved to another window, or gone, meanwhile.
        if (tabOf(viewRef.get(), closing) != tabRef.get()) return;
        adw_tab_view_close_page_finish(viewRef.get(), tabRef.get(), close);
        if (close) groups->release(closing);
    });
    return GDK_EVENT_STOP;
}

AdwTabView* TabGroupWindow::createWindow(AdwTabView*, gpointer self) {
    auto* group = static_cast<TabGroupWindow*>(self);
    TabGroupWindow& target = create(group->groups_, group->application_, group->sessionChanges_);
    gtk_window_present(target.window());
    return target.view_;
}

gboolean TabGroupWindow::closeRequested(GtkWindow*, gpointer self) {
    auto* group = static_cast<TabGroupWindow*>(self);
    group->groups_.endDragsFrom(*group);
    return FALSE;
}

void TabGroupWindow::activeChanged(GObject*, GParamSpec*, gpointer self) {
    static_cast<TabGroupWindow*>(self)->updateActive();
}

void TabGroupWindow::resized(GtkWidget*, int width, int height, gpointer self) {
    // The sensor hears its size in the middle of the window's allocation.
    // What the width decides (the sidebar shown or hidden) changes the
    // widgets' sizes, and a change asked for there is lost on GTK 4.8: the
    // window would keep widgets that are never allocated again and draw
    // nothing from then on, whatever its size. It waits until this layout
    // has ended.
    auto window = GObjectPtr<GtkWindow>::retain(static_cast<TabGroupWindow*>(self)->window_);
    MainThread::post([window, width, height] {
        if (TabGroupWindow* group = TabGroupWindow::of(window.get())) group->widthChanged(width, height);
    });
}

}  // namespace larkspin
