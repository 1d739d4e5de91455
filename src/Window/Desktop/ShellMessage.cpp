#include "Window/Desktop/ShellMessage.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {

constexpr Logger shellLog{"shell"};

// The dialog `waiting` once `parent` is mapped: once.
void presentOnceMapped(GtkWidget* parent, gpointer waiting) {
    g_signal_handlers_disconnect_by_func(parent, reinterpret_cast<gpointer>(presentOnceMapped), waiting);
    gtk_window_present(GTK_WINDOW(waiting));
}

void present(GtkWindow* parent, GtkApplication* application, const std::string& title,
             const std::string& message) {
    shellLog.info("提示：%{public}s（%{public}s）", title, parent ? "在窗口上" : "无窗口");
    GtkWidget* dialog = adw_message_dialog_new(parent, title.c_str(), message.c_str());
    adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(dialog), "ok", L10n::text("common.ok").c_str());
    adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(dialog), "ok");
    adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(dialog), "ok");
    if (application) gtk_window_set_application(GTK_WINDOW(dialog), application);
    // The window manager places a dialog over its parent only once it
    // manages the parent: a window just presented (the session's, or the
    // page of a file opened with the failing ones) is not mapped yet, and a
    // dialog mapped before it lands at the screen's edge. It waits for the
    // parent's map.
    if (parent && !gtk_widget_get_mapped(GTK_WIDGET(parent)) && gtk_widget_get_visible(GTK_WIDGET(parent))) {
        g_signal_connect_object(parent, "map", G_CALLBACK(presentOnceMapped), dialog, G_CONNECT_AFTER);
        return;
    }
    gtk_window_present(GTK_WINDOW(dialog));
}

// The application's window in front: the most recently focused of its
// windows that is shown. A window hidden or not presented yet has no place
// on the screen to be over.
GtkWindow* windowInFront(GtkApplication* application) {
    for (GList* item = gtk_application_get_windows(application); item; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (gtk_widget_get_visible(GTK_WIDGET(window))) return window;
    }
    return nullptr;
}

}  // namespace

void showShellMessage(GtkApplication* application, const std::string& title, const std::string& message) {
    present(windowInFront(application), application, title, message);
}

void showShellMessage(GtkWindow* parent, const std::string& title, const std::string& message) {
    present(parent, parent ? gtk_window_get_application(parent) : nullptr, title, message);
}

}  // namespace larkspin
