#include "Window/Desktop/TabDragStarts.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

namespace larkspin {

namespace {

// Where a drag made for a tab is noted, on the root widget of the tab's page,
// weakly.
constexpr const char* madeKey = "larkspin-tab-drag-made";

void (*constructedBefore)(GObject*) = nullptr;

void forget(gpointer made) {
    g_weak_ref_clear(static_cast<GWeakRef*>(made));
    g_free(made);
}

void constructed(GObject* object) {
    if (constructedBefore) constructedBefore(object);
    auto* drag = GDK_DRAG(object);
    GdkContentFormats* formats = gdk_drag_get_formats(drag);
    if (!formats || !gdk_content_formats_contain_gtype(formats, ADW_TYPE_TAB_PAGE)) return;
    GtkWidget* child = TabDragStarts::draggedChild(drag);
    if (!child) return;
    auto* made = g_new0(GWeakRef, 1);
    g_weak_ref_init(made, drag);
    g_object_set_data_full(G_OBJECT(child), madeKey, made, forget);
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

GtkWidget* TabDragStarts::draggedChild(GdkDrag* drag) {
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

GObjectPtr<GdkDrag> TabDragStarts::claim(GtkWidget* child) {
    auto* made = static_cast<GWeakRef*>(g_object_get_data(G_OBJECT(child), madeKey));
    if (!made) return {};
    auto drag = GObjectPtr<GdkDrag>::adopt(static_cast<GdkDrag*>(g_weak_ref_get(made)));
    g_object_set_data(G_OBJECT(child), madeKey, nullptr);
    return drag;
}

}  // namespace larkspin
