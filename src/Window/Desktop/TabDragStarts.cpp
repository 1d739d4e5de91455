#include "Window/Desktop/TabDragStarts.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <vector>

namespace larkspin {

namespace {

// Drags made that carry a tab, oldest first, each until it is claimed or gone.
std::vector<GdkDrag*>& madeDrags() {
    static std::vector<GdkDrag*> drags;
    return drags;
}

void (*constructedBefore)(GObject*) = nullptr;

void gone(gpointer, GObject* drag) { std::erase(madeDrags(), reinterpret_cast<GdkDrag*>(drag)); }

void constructed(GObject* object) {
    if (constructedBefore) constructedBefore(object);
    auto* drag = GDK_DRAG(object);
    GdkContentFormats* formats = gdk_drag_get_formats(drag);
    if (!formats || !gdk_content_formats_contain_gtype(formats, ADW_TYPE_TAB_PAGE)) return;
    madeDrags().push_back(drag);
    g_object_weak_ref(object, gone, nullptr);
}

// The root widget of the tab page a drag carries, or null.
GtkWidget* draggedChild(GdkDrag* drag) {
    GdkContentProvider* content = gdk_drag_get_content(drag);
    if (!content) return nullptr;
    GValue value = G_VALUE_INIT;
    g_value_init(&value, ADW_TYPE_TAB_PAGE);
    GtkWidget* child = nullptr;
    if (gdk_content_provider_get_value(content, &value, nullptr)) {
        if (auto* tab = static_cast<AdwTabPage*>(g_value_get_object(&value))) child = adw_tab_page_get_child(tab);
    }
    g_value_unset(&value);
    return child;
}

}  // namespace

void TabDragStarts::install() {
    static const bool installed = [] {
        // Before any drag is made: the backend's drag class, made with the
        // first drag, takes the step from here. The class stays, as the step does.
        auto* dragClass = G_OBJECT_CLASS(g_type_class_ref(GDK_TYPE_DRAG));
        constructedBefore = dragClass->constructed;
        dragClass->constructed = constructed;
        // A backend's class made already took the step as it was then.
        guint count = 0;
        GType* backends = g_type_children(GDK_TYPE_DRAG, &count);
        for (guint index = 0; index < count; ++index) {
            auto* backendClass = static_cast<GObjectClass*>(g_type_class_peek(backends[index]));
            if (backendClass && backendClass->constructed == constructedBefore) backendClass->constructed = constructed;
        }
        g_free(backends);
        return true;
    }();
    (void)installed;
}

GdkDrag* TabDragStarts::claim(GtkWidget* child) {
    std::vector<GdkDrag*>& drags = madeDrags();
    const auto found = std::find_if(drags.begin(), drags.end(), [child](GdkDrag* drag) { return draggedChild(drag) == child; });
    if (found == drags.end()) return nullptr;
    GdkDrag* drag = *found;
    drags.erase(found);
    g_object_weak_unref(G_OBJECT(drag), gone, nullptr);
    return drag;
}

}  // namespace larkspin
