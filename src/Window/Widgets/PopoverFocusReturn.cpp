#include "Window/Widgets/PopoverFocusReturn.hpp"

#include <gtk/gtk.h>

#include <stdexcept>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

PopoverFocusReturn::PopoverFocusReturn(GtkWindow* window, std::function<GtkWidget*()> fallback)
    : window_(window), fallback_(std::move(fallback)) {
    if (!window_ || !fallback_) throw std::invalid_argument("popover focus return: window and fallback");
    g_weak_ref_init(&before_, nullptr);
    g_weak_ref_init(&popover_, nullptr);
    focus_ = SignalConnection::connect(window_, "notify::focus-widget", G_CALLBACK(focusChanged), this);
}

PopoverFocusReturn::~PopoverFocusReturn() {
    *alive_ = false;
    hidden_.disconnect();
    focus_.disconnect();
    g_weak_ref_clear(&popover_);
    g_weak_ref_clear(&before_);
}

void PopoverFocusReturn::focusChanged(GObject*, GParamSpec*, gpointer data) {
    auto* self = static_cast<PopoverFocusReturn*>(data);
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(self->window_));
    if (!focus) return;
    GtkNative* native = gtk_widget_get_native(focus);
    if (native == GTK_NATIVE(self->window_)) {
        g_weak_ref_set(&self->before_, focus);
        return;
    }
    if (!GTK_IS_POPOVER(native)) return;
    GObject* watched = static_cast<GObject*>(g_weak_ref_get(&self->popover_));
    const bool same = watched == G_OBJECT(native) && self->hidden_.isConnected();
    if (watched) g_object_unref(watched);
    if (same) return;
    g_weak_ref_set(&self->popover_, native);
    self->hidden_ = SignalConnection::connect(native, "unmap", G_CALLBACK(popoverHidden), self);
}

void PopoverFocusReturn::popoverHidden(GtkWidget*, gpointer data) {
    auto* self = static_cast<PopoverFocusReturn*>(data);
    std::weak_ptr<bool> alive = self->alive_;
    MainThread::post([alive, self] {
        const auto living = alive.lock();
        if (living && *living) self->restore();
    });
}

bool PopoverFocusReturn::canTakeFocus(GtkWidget* widget) const {
    return widget && gtk_widget_get_root(widget) == GTK_ROOT(window_) &&
           gtk_widget_get_native(widget) == GTK_NATIVE(window_) && gtk_widget_get_mapped(widget) &&
           gtk_widget_is_sensitive(widget);
}

void PopoverFocusReturn::restore() {
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window_));
    // The chosen item placed the focus itself (a find bar's entry…), or it
    // is in a popover still shown: left where it is.
    if (focus && (gtk_widget_get_native(focus) == GTK_NATIVE(window_) || gtk_widget_get_mapped(focus))) return;
    GtkWidget* before = static_cast<GtkWidget*>(g_weak_ref_get(&before_));
    const bool back = canTakeFocus(before);
    GtkWidget* target = back ? before : fallback_();
    const bool taken = canTakeFocus(target) && gtk_widget_grab_focus(target);
    // With nothing to take it, the window itself has the keys.
    if (!taken) gtk_window_set_focus(window_, nullptr);
    AppLog::actions.info("弹出菜单关闭后焦点回到%{public}s",
                         !taken ? "窗口" : back ? "原先的控件" : "页面");
    if (before) g_object_unref(before);
}

}  // namespace larkspin
