#include "Window/Desktop/TabDragPresses.hpp"

#include <gtk/gtk.h>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Glib/GObjectPtr.hpp"

namespace larkspin {

namespace {

// Where the tab bar keeps, on a tab's drag, the widget it began in (its box
// of tabs, inside the bar).
constexpr const char* originKey = "adw-tab-bar-drag-origin";

// Resets each gesture of `widget` and its ancestors that holds a press of the
// pointer (a pointer's presses have no sequence of their own).
void releasePresses(GtkWidget* widget) {
    for (; widget; widget = gtk_widget_get_parent(widget)) {
        GListModel* controllers = gtk_widget_observe_controllers(widget);
        const guint count = g_list_model_get_n_items(controllers);
        for (guint index = 0; index < count; ++index) {
            auto* controller = static_cast<GtkEventController*>(g_list_model_get_item(controllers, index));
            if (GTK_IS_GESTURE(controller) && gtk_gesture_get_last_event(GTK_GESTURE(controller), nullptr)) {
                gtk_event_controller_reset(controller);
            }
            g_object_unref(controller);
        }
        g_object_unref(controllers);
    }
}

gboolean dragEnded(GSignalInvocationHint*, guint count, const GValue* values, gpointer) {
    if (count < 1 || !G_VALUE_HOLDS_OBJECT(&values[0])) return TRUE;
    auto* origin = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(g_value_get_object(&values[0])), originKey));
    if (!origin || !GTK_IS_WIDGET(origin)) return TRUE;
    // A turn later: the tab bar's own handlers of this end run first.
    MainThread::post([held = GObjectPtr<GtkWidget>::retain(origin)] { releasePresses(held.get()); });
    return TRUE;  // stays for the next drag
}

}  // namespace

void TabDragPresses::install() {
    static const bool installed = [] {
        // The signals exist once the class does: no drag may have been made
        // yet. The class stays, as the hooks do.
        g_type_class_ref(GDK_TYPE_DRAG);
        for (const char* end : {"dnd-finished", "cancel"}) {
            const guint signal = g_signal_lookup(end, GDK_TYPE_DRAG);
            if (signal != 0) g_signal_add_emission_hook(signal, 0, dragEnded, nullptr, nullptr);
        }
        return true;
    }();
    (void)installed;
}

}  // namespace larkspin
