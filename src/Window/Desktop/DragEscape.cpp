#include "Window/Desktop/DragEscape.hpp"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <gdk/x11/gdkx.h>
#endif

#include "Platform/Log.hpp"

namespace larkspin {

namespace {

constexpr Logger windowLog{"window"};

}  // namespace

DragEscape::DragEscape(GdkDrag* drag) : drag_(GObjectPtr<GdkDrag>::retain(drag)) {
#ifdef GDK_WINDOWING_X11
    GdkDisplay* display = gdk_drag_get_display(drag);
    if (!GDK_IS_X11_DISPLAY(display)) return;
    Display* xdisplay = gdk_x11_display_get_xdisplay(display);
    escapeKey_ = XKeysymToKeycode(xdisplay, XK_Escape);
    root_ = gdk_x11_display_get_xrootwindow(display);
    int event = 0, error = 0;
    if (!XQueryExtension(xdisplay, "XInputExtension", &inputOpcode_, &event, &error)) inputOpcode_ = -1;
    display_ = GObjectPtr<GObject>::retain(G_OBJECT(display));
    handler_ = g_signal_connect(display, "xevent", G_CALLBACK(onEvent), this);
#endif
}

DragEscape::~DragEscape() {
    if (handler_ != 0) g_signal_handler_disconnect(display_.get(), handler_);
}

gboolean DragEscape::onEvent(GObject*, const void* event, gpointer data) {
#ifdef GDK_WINDOWING_X11
    auto* self = static_cast<DragEscape*>(data);
    const auto* xevent = static_cast<const XEvent*>(event);
    bool escape = false;
    // Through the drag's grab the key comes to the root window; a key that
    // comes to a window of ours is no longer the drag's.
    if (xevent->type == KeyPress) {
        escape = xevent->xkey.keycode == self->escapeKey_ && xevent->xkey.window == self->root_;
    } else if (xevent->type == GenericEvent && xevent->xcookie.extension == self->inputOpcode_ &&
               xevent->xcookie.evtype == XI_KeyPress && xevent->xcookie.data) {
        const auto* key = static_cast<const XIDeviceEvent*>(xevent->xcookie.data);
        escape = static_cast<unsigned>(key->detail) == self->escapeKey_ && key->event == self->root_ &&
                 !(key->flags & XIKeyRepeat);
    }
    if (!escape || self->escapeKey_ == 0) return FALSE;
    windowLog.info("拖动已由 Esc 取消");
    // The cancel may end this watch: nothing of it is used after.
    const GObjectPtr<GdkDrag> drag = self->drag_;
    g_signal_emit_by_name(drag.get(), "cancel", GDK_DRAG_CANCEL_USER_CANCELLED);
#else
    (void)event;
    (void)data;
#endif
    return FALSE;
}

}  // namespace larkspin
