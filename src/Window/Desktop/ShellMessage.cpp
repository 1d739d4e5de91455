#include "Window/Desktop/ShellMessage.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {

constexpr Logger shellLog{"shell"};

void present(GtkWindow* parent, GtkApplication* application, const std::string& title,
             const std::string& message) {
    shellLog.info("提示：%{public}s（%{public}s）", title, parent ? "在窗口上" : "无窗口");
    GtkWidget* dialog = adw_message_dialog_new(parent, title.c_str(), message.c_str());
    adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(dialog), "ok", L10n::text("common.ok").c_str());
    adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(dialog), "ok");
    adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(dialog), "ok");
    if (application) gtk_window_set_application(GTK_WINDOW(dialog), application);
    gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace

void showShellMessage(GtkApplication* application, const std::string& title, const std::string& message) {
    present(gtk_application_get_active_window(application), application, title, message);
}

void showShellMessage(GtkWindow* parent, const std::string& title, const std::string& message) {
    present(parent, parent ? gtk_window_get_application(parent) : nullptr, title, message);
}

}  // namespace larkspin
