#include "Window/Desktop/EditingQuestions.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <cstring>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Localization.hpp"

namespace larkspin::EditingQuestions {

namespace {

using Answer = Completion<bool>;

void onResponse(AdwMessageDialog* dialog, const char* response, gpointer data) {
    // Only the first answer counts; the completion goes with the dialog.
    g_signal_handlers_disconnect_by_func(dialog, reinterpret_cast<gpointer>(&onResponse), data);
    static_cast<Answer*>(data)->resolve(std::strcmp(response, continueResponse) == 0);
}

AdwMessageDialog* makeDialog(GtkWindow* parent, const std::string& heading, const std::string& body) {
    GtkWidget* dialog = adw_message_dialog_new(parent, nullptr, nullptr);
    AdwMessageDialog* message = ADW_MESSAGE_DIALOG(dialog);
    adw_message_dialog_set_heading_use_markup(message, FALSE);
    adw_message_dialog_set_heading(message, heading.c_str());
    adw_message_dialog_set_body_use_markup(message, FALSE);
    adw_message_dialog_set_body(message, body.c_str());
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    if (parent) gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
    return message;
}

Task<bool> present(GObjectPtr<GtkWindow> parent) {
    auto start = [parent](Answer answer) {
        AdwMessageDialog* message = makeDialog(parent.get(), L10n::text("mode.mixed_eol.title"),
                                               L10n::text("mode.mixed_eol.message"));
        adw_message_dialog_add_response(message, continueResponse, L10n::text("mode.mixed_eol.continue").c_str());
        adw_message_dialog_add_response(message, cancelResponse, L10n::text("common.cancel").c_str());
        adw_message_dialog_set_default_response(message, cancelResponse);
        adw_message_dialog_set_close_response(message, cancelResponse);
        auto* held = new Answer(std::move(answer));
        g_object_set_data_full(G_OBJECT(message), "larkspin-answer", held,
                               [](gpointer data) { delete static_cast<Answer*>(data); });
        g_signal_connect(message, "response", G_CALLBACK(onResponse), held);
        gtk_window_present(GTK_WINDOW(message));
    };
    co_return co_await awaitCompletion<bool>(start);
}

}  // namespace

Task<bool> confirmMixedLineEndings(GtkWindow* parent) {
    return present(GObjectPtr<GtkWindow>::retain(parent));
}

void showReadOnly(GtkWindow* parent, const std::string& problem) {
    AdwMessageDialog* message = makeDialog(parent, L10n::text("mode.readonly.title"), problem);
    adw_message_dialog_add_response(message, "ok", L10n::text("common.ok").c_str());
    gtk_window_present(GTK_WINDOW(message));
}

}  // namespace larkspin::EditingQuestions
