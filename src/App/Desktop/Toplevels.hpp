#pragma once

#include <gtk/gtk.h>

namespace larkspin {

// Calls `visit` with each toplevel of the process (our windows, the open
// dialog, message dialogs).
template <typename Visit>
void forEachToplevel(Visit visit) {
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint index = 0; index < g_list_model_get_n_items(toplevels); ++index) {
        auto* window = static_cast<GtkWindow*>(g_list_model_get_item(toplevels, index));
        visit(window);
        g_object_unref(window);
    }
}

}  // namespace larkspin
