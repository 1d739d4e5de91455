#include "Window/Desktop/RootWindowDrops.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <gdk/x11/gdkx.h>
#endif

#include "Platform/Async/MainThread.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {

constexpr Logger windowLog{"window"};

#ifdef GDK_WINDOWING_X11
// Whether the pointer is over none of the screen's windows but the drag's own
// icon: the one case where GDK drops on the root window. GDK looks for the
// target as this does: the topmost mapped window that draws, under the
// pointer, the drag icon left out.
bool overRootWindow(GdkDrag* drag) {
    GdkDisplay* display = gdk_drag_get_display(drag);
    Display* xdisplay = gdk_x11_display_get_xdisplay(display);
    const Window root = gdk_x11_display_get_xrootwindow(display);
    GdkSurface* iconSurface = gdk_drag_get_drag_surface(drag);
    const Window icon = iconSurface ? gdk_x11_surface_get_xid(iconSurface) : None;
    Window rootReturn = None, childReturn = None;
    int x = 0, y = 0, childX = 0, childY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(xdisplay, root, &rootReturn, &childReturn, &x, &y, &childX, &childY, &mask)) {
        return false;
    }
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(xdisplay, root, &rootReturn, &parent, &children, &count)) return false;
    bool covered = false;
    for (unsigned int index = count; index-- > 0 && !covered;) {
        if (children[index] == icon) continue;
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(xdisplay, children[index], &attributes)) continue;
        if (attributes.map_state != IsViewable || attributes.c_class == InputOnly) continue;
        covered = x >= attributes.x && x < attributes.x + attributes.width + 2 * attributes.border_width &&
                  y >= attributes.y && y < attributes.y + attributes.height + 2 * attributes.border_width;
    }
    if (children) XFree(children);
    return !covered;
}
#endif

gboolean dropPerformed(GSignalInvocationHint*, guint count, const GValue* values, gpointer) {
#ifdef GDK_WINDOWING_X11
    if (count < 1 || !G_VALUE_HOLDS_OBJECT(&values[0])) return TRUE;
    auto* drag = GDK_DRAG(g_value_get_object(&values[0]));
    if (!GDK_IS_X11_DISPLAY(gdk_drag_get_display(drag))) return TRUE;
    // Only a tab's drag: what else the program drags ends as GDK ends it.
    if (!gdk_content_formats_contain_gtype(gdk_drag_get_formats(drag), ADW_TYPE_TAB_PAGE)) return TRUE;
    if (!overRootWindow(drag)) return TRUE;
    windowLog.info("标签页拖到桌面上：移入新窗口");
    // A turn later: the tab bar's own handlers of this drop run first.
    MainThread::post([held = GObjectPtr<GdkDrag>::retain(drag)] {
        g_signal_emit_by_name(held.get(), "dnd-finished");
    });
#else
    (void)count;
    (void)values;
#endif
    return TRUE;  // stays for the next drop
}

}  // namespace

RootWindowDrops::RootWindowDrops() {
    // The signal exists once the class does; no drag may have been made yet.
    class_ = g_type_class_ref(GDK_TYPE_DRAG);
    signal_ = g_signal_lookup("drop-performed", GDK_TYPE_DRAG);
    if (signal_ != 0) hook_ = g_signal_add_emission_hook(signal_, 0, dropPerformed, nullptr, nullptr);
}

RootWindowDrops::~RootWindowDrops() {
    if (hook_ != 0) g_signal_remove_emission_hook(signal_, hook_);
    g_type_class_unref(class_);
}

}  // namespace larkspin
