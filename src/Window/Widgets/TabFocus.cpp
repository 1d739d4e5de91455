#include "Window/Widgets/TabFocus.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <stdexcept>
#include <utility>

#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroups.hpp"

namespace larkspin {

TabFocus::TabFocus(GtkWindow* window, AdwTabView* tabs, TabGroups& pages)
    : window_(window), tabs_(tabs), pages_(pages) {
    if (!window_ || !tabs_) throw std::invalid_argument("tab focus: the window and its tabs");
    g_weak_ref_init(&focus_, gtk_root_get_focus(GTK_ROOT(window_)));
    changed_ = SignalConnection::connect(window_, "notify::focus-widget", G_CALLBACK(focusChanged), this);
}

TabFocus::~TabFocus() {
    changed_.disconnect();
    g_weak_ref_clear(&focus_);
}

void TabFocus::selectionChanging() {
    if (focusInTabs()) giveBack_ = true;
}

void TabFocus::settled(DocumentPage* page) {
    if (!std::exchange(giveBack_, false) || !page) return;
    page->takeFocus();
}

bool TabFocus::focusInTabs() const {
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window_));
    return !focus || gtk_widget_is_ancestor(focus, GTK_WIDGET(tabs_));
}

DocumentPage* TabFocus::pageHolding(GtkWidget* widget) const {
    for (; widget; widget = gtk_widget_get_parent(widget)) {
        if (DocumentPage* page = pages_.pageOf(widget)) return page;
    }
    return nullptr;
}

void TabFocus::focusChanged(GObject*, GParamSpec*, gpointer data) {
    auto* self = static_cast<TabFocus*>(data);
    GtkWidget* now = gtk_root_get_focus(GTK_ROOT(self->window_));
    auto* before = static_cast<GtkWidget*>(g_weak_ref_get(&self->focus_));
    g_weak_ref_set(&self->focus_, now);
    if (!before) return;
    // The focus leaves a page: the page keeps where it was.
    if (before != now) {
        DocumentPage* page = self->pageHolding(before);
        if (page && !(now && gtk_widget_is_ancestor(now, page->widget()))) page->keepFocus(before);
    }
    g_object_unref(before);
}

}  // namespace larkspin
