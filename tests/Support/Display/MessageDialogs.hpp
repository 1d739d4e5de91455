#pragma once

#include <adwaita.h>
#include <gtk/gtk.h>

namespace larkspin::test {

// The first visible toplevel that `matches`; null when none is.
template <typename Matches>
GtkWindow* visibleToplevel(Matches matches) {
    GtkWindow* found = nullptr;
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels) && !found; ++i) {
        auto* window = static_cast<GtkWindow*>(g_list_model_get_item(toplevels, i));
        if (gtk_widget_get_visible(GTK_WIDGET(window)) && matches(window)) found = window;
        g_object_unref(window);
    }
    return found;
}

// The visible AdwMessageDialog among the toplevels; null when none is open.
inline AdwMessageDialog* openMessageDialog() {
    GtkWindow* found = visibleToplevel([](GtkWindow* window) { return ADW_IS_MESSAGE_DIALOG(window); });
    return found ? ADW_MESSAGE_DIALOG(found) : nullptr;
}

// A button: its response, then the dialog closes (which answers again).
inline void pressMessageButton(AdwMessageDialog* dialog, const char* response) {
    adw_message_dialog_response(dialog, response);
    gtk_window_close(GTK_WINDOW(dialog));
}

}  // namespace larkspin::test
