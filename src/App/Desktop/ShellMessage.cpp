#include "App/Desktop/ShellMessage.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include "App/Desktop/ShellLog.hpp"
#include "Platform/Localization.hpp"

namespace larkspin {

void showShellMessage(GtkApplication* application, const std::string& title, const std::string& message) {
    ShellLog::shell.info("提示：%{public}s", title);
    GtkWindow* parent = gtk_application_get_active_window(application);
    GtkWidget* dialog = adw_message_dialog_new(parent, title.c_str(), message.c_str());
    adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(dialog), "ok", L10n::text("common.ok").c_str());
    adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(dialog), "ok");
    adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(dialog), "ok");
    gtk_window_set_application(GTK_WINDOW(dialog), application);
    gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace larkspin
