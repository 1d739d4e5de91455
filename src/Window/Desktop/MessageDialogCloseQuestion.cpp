#include "Window/Desktop/MessageDialogCloseQuestion.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <cstring>
#include <memory>

#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Window/Desktop/MessageQuestion.hpp"

namespace larkspin {

namespace {

// The answer stays with the dialog and is given once: by the first response,
// or as "cancel" when the dialog goes without one.
struct PendingAnswer {
    std::function<void(CloseAnswer)> answer;

    void give(CloseAnswer value) {
        if (!answer) return;
        auto once = std::move(answer);
        answer = nullptr;
        once(value);
    }
    ~PendingAnswer() { give(CloseAnswer::cancel); }
};

void onResponse(AdwMessageDialog*, const char* response, gpointer data) {
    auto* pending = static_cast<PendingAnswer*>(data);
    if (std::strcmp(response, MessageDialogCloseQuestion::saveResponse) == 0)
        pending->give(CloseAnswer::save);
    else if (std::strcmp(response, MessageDialogCloseQuestion::discardResponse) == 0)
        pending->give(CloseAnswer::dontSave);
    else
        pending->give(CloseAnswer::cancel);
}

}  // namespace

MessageDialogCloseQuestion::MessageDialogCloseQuestion(std::function<GtkWindow*(ClosingDocument&)> windowOf)
    : windowOf_(std::move(windowOf)) {}

void MessageDialogCloseQuestion::ask(ClosingDocument& document, std::function<void(CloseAnswer)> answer) {
    GtkWindow* parent = windowOf_ ? windowOf_(document) : nullptr;
    const std::string heading = L10n::format("close.review.message", {document.displayName()});
    const std::string body = L10n::text("close.review.detail");
    AppLog::document.info("关闭前询问：%{private}s", document.displayName());
    AdwMessageDialog* message = MessageQuestion::make(parent, heading, body);
    adw_message_dialog_add_response(message, cancelResponse, L10n::text("common.cancel").c_str());
    adw_message_dialog_add_response(message, discardResponse, L10n::text("close.review.dont_save").c_str());
    adw_message_dialog_add_response(message, saveResponse, L10n::text("close.review.save").c_str());
    adw_message_dialog_set_response_appearance(message, discardResponse, ADW_RESPONSE_DESTRUCTIVE);
    adw_message_dialog_set_response_appearance(message, saveResponse, ADW_RESPONSE_SUGGESTED);
    adw_message_dialog_set_default_response(message, saveResponse);
    adw_message_dialog_set_close_response(message, cancelResponse);
    auto* pending = new PendingAnswer{std::move(answer)};
    g_object_set_data_full(G_OBJECT(message), "larkspin-close-answer", pending,
                           [](gpointer data) { delete static_cast<PendingAnswer*>(data); });
    g_signal_connect(message, "response", G_CALLBACK(onResponse), pending);
    gtk_window_present(GTK_WINDOW(message));
}

}  // namespace larkspin
