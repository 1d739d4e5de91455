#include "Window/Desktop/EditingQuestions.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include "Platform/Localization.hpp"
#include "Window/Desktop/MessageQuestion.hpp"

namespace larkspin::EditingQuestions {

Task<bool> confirmMixedLineEndings(GtkWindow* parent) {
    MessageQuestion::YesNo asked;
    asked.heading = L10n::text("mode.mixed_eol.title");
    asked.body = L10n::text("mode.mixed_eol.message");
    asked.answers = {{continueResponse, L10n::text("mode.mixed_eol.continue")},
                     {cancelResponse, L10n::text("common.cancel")}};
    asked.yes = continueResponse;
    asked.cancel = cancelResponse;
    return MessageQuestion::ask(parent, std::move(asked));
}

void showReadOnly(GtkWindow* parent, const std::string& problem) {
    AdwMessageDialog* message = MessageQuestion::make(parent, L10n::text("mode.readonly.title"), problem);
    adw_message_dialog_add_response(message, "ok", L10n::text("common.ok").c_str());
    gtk_window_present(GTK_WINDOW(message));
}

}  // namespace larkspin::EditingQuestions
