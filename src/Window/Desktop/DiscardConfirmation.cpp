#include "Window/Desktop/DiscardConfirmation.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <cstring>

#include "Platform/Glib/GObjectPtr.hpp"

namespace larkspin::DiscardConfirmation {

namespace {

using Answer = Completion<bool>;

void onResponse(AdwMessageDialog* dialog, const char* response, gpointer data) {
    // Only the first answer counts; the completion goes with the dialog.
    g_signal_handlers_disconnect_by_func(dialog, reinterpret_cast<gpointer>(&onResponse), data);
    static_cast<Answer*>(data)->resolve(std::strcmp(response, discardResponse) == 0);
}

Task<bool> present(GObjectPtr<GtkWindow> parent, OpenConfirmation::Question question) {
    auto start = [parent, question](Answer answer) {
        GtkWidget* dialog = adw_message_dialog_new(parent.get(), nullptr, nullptr);
        AdwMessageDialog* message = ADW_MESSAGE_DIALOG(dialog);
        adw_message_dialog_set_heading_use_markup(message, FALSE);
        adw_message_dialog_set_heading(message, question.heading.c_str());
        adw_message_dialog_set_body_use_markup(message, FALSE);
        adw_message_dialog_set_body(message, question.body.c_str());
        adw_message_dialog_add_response(message, cancelResponse, question.cancelLabel.c_str());
        adw_message_dialog_add_response(message, discardResponse, question.openLabel.c_str());
        adw_message_dialog_set_response_appearance(message, discardResponse,
                                                   ADW_RESPONSE_DESTRUCTIVE);
        adw_message_dialog_set_default_response(message, cancelResponse);
        adw_message_dialog_set_close_response(message, cancelResponse);
        gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
        if (parent) gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
        auto* held = new Answer(std::move(answer));
        g_object_set_data_full(G_OBJECT(dialog), "larkspin-answer", held,
                               [](gpointer data) { delete static_cast<Answer*>(data); });
        g_signal_connect(dialog, "response", G_CALLBACK(onResponse), held);
        gtk_window_present(GTK_WINDOW(dialog));
    };
    co_return co_await awaitCompletion<bool>(start);
}

}  // namespace

Task<bool> ask(GtkWindow* parent, OpenConfirmation::Question question) {
    return present(GObjectPtr<GtkWindow>::retain(parent), std::move(question));
}

}  // namespace larkspin::DiscardConfirmation
