#include "Window/Desktop/RootWindowDrops.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>
#include <gdk/x11/gdkx.h>
#endif

#include "Platform/Async/MainThread.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {

constexpr Logger windowLog{"window"};
// Set on a drag once it has ended (finished or cancelled).
constexpr const char* endedKey = "larkspin-drag-ended";

#ifdef GDK_WINDOWING_X11
// Whether (x, y), relative to `window`, lies in its shape of `kind` (a window
// without one of its own has its whole rectangle).
bool inShape(Display* xdisplay, Window window, int kind, int x, int y) {
    int count = 0, ordering = 0;
    XRectangle* rectangles = XShapeGetRectangles(xdisplay, window, kind, &count, &ordering);
    bool inside = false;
    for (int index = 0; index < count && !inside; ++index) {
        const XRectangle& shape = rectangles[index];
        inside = x >= shape.x && x < shape.x + shape.width && y >= shape.y && y < shape.y + shape.height;
    }
    if (rectangles) XFree(rectangles);
    return inside;
}

// Whether the pointer is over none of the screen's windows but the drag's own
// icon: the one case where GDK drops on the root window. GDK looks for the
// target as this does: from the top, the first mapped child of the root
// window, the drag icon left out, whose rectangle holds the pointer and whose
// bounding and input shapes do too. A client-side shadow takes no input: the
// pointer on it is over what lies beneath.
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
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    const bool shapes = XShapeQueryExtension(xdisplay, &eventBase, &errorBase);
    const bool inputShapes =
        shapes && XShapeQueryVersion(xdisplay, &major, &minor) && (major > 1 || (major == 1 && minor >= 1));
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(xdisplay, root, &rootReturn, &parent, &children, &count)) return false;
    // A window may go while it is asked about.
    gdk_x11_display_error_trap_push(display);
    bool covered = false;
    for (unsigned int index = count; index-- > 0 && !covered;) {
        const Window child = children[index];
        if (child == icon) continue;
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(xdisplay, child, &attributes)) continue;
        if (attributes.map_state == IsUnmapped) continue;
        const int inX = x - attributes.x;
        const int inY = y - attributes.y;
        if (inX < 0 || inY < 0 || inX >= attributes.width || inY >= attributes.height) continue;
        if (shapes && !inShape(xdisplay, child, ShapeBounding, inX, inY)) continue;
        if (inputShapes && !inShape(xdisplay, child, ShapeInput, inX, inY)) continue;
        covered = true;
    }
    gdk_x11_display_error_trap_pop_ignored(display);
    if (children) XFree(children);
    return !covered;
}

void markEnded(GdkDrag* drag) { g_object_set_data(G_OBJECT(drag), endedKey, GINT_TO_POINTER(1)); }

void dragFinished(GdkDrag* drag, gpointer) { markEnded(drag); }

void dragCancelled(GdkDrag* drag, GdkDragCancelReason, gpointer) { markEnded(drag); }
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
    // Whatever ends the drag before the turn below (GDK itself, one day)
    // leaves it ended.
    g_signal_connect(drag, "dnd-finished", G_CALLBACK(dragFinished), nullptr);
    g_signal_connect(drag, "cancel", G_CALLBACK(dragCancelled), nullptr);
    // A turn later: the tab bar's own handlers of this drop run first.
    MainThread::post([held = GObjectPtr<GdkDrag>::retain(drag)] {
        if (g_object_get_data(G_OBJECT(held.get()), endedKey)) return;
        g_signal_emit_by_name(held.get(), "dnd-finished");
    });
#else
    (void)count;
    (void)values;
#endif
    return TRUE;  // stays for the next drop
}

}  // namespace

void RootWindowDrops::install() {
    static const bool installed = [] {
        // The signal exists once the class does: no drag may have been made
        // yet. The class stays, as the hook does.
        g_type_class_ref(GDK_TYPE_DRAG);
        const guint signal = g_signal_lookup("drop-performed", GDK_TYPE_DRAG);
        if (signal == 0) return false;
        g_signal_add_emission_hook(signal, 0, dropPerformed, nullptr, nullptr);
        return true;
    }();
    (void)installed;
}

}  // namespace larkspin
