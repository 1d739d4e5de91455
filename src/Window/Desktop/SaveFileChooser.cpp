#include "Window/Desktop/SaveFileChooser.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include "Platform/Localization.hpp"
#include "Window/Desktop/NativeFileChooser.hpp"

namespace larkspin::SaveFileChooser {

Task<std::optional<std::filesystem::path>> choose(GtkWindow* parent,
                                                  DocumentWindowHost::SaveRequest request) {
    NativeFileChooser::Panel panel;
    panel.purpose = NativeFileChooser::Panel::Purpose::save;
    panel.title = L10n::text("save.panel.title");
    panel.accept = L10n::text("save.panel.accept");
    panel.folder = std::move(request.folder);
    panel.name = std::move(request.name);
    return NativeFileChooser::choose(parent, std::move(panel));
}

void showError(GtkWindow* parent, const std::string& message) {
    const std::string heading = L10n::text("save.error.heading");
    const std::string ok = L10n::text("common.ok");
    GtkWidget* dialog = adw_message_dialog_new(parent, nullptr, nullptr);
    AdwMessageDialog* alert = ADW_MESSAGE_DIALOG(dialog);
    adw_message_dialog_set_heading_use_markup(alert, FALSE);
    adw_message_dialog_set_heading(alert, heading.c_str());
    adw_message_dialog_set_body_use_markup(alert, FALSE);
    adw_message_dialog_set_body(alert, message.c_str());
    adw_message_dialog_add_response(alert, "ok", ok.c_str());
    adw_message_dialog_set_default_response(alert, "ok");
    adw_message_dialog_set_close_response(alert, "ok");
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace larkspin::SaveFileChooser
