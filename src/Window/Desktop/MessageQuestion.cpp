#include "Window/Desktop/MessageQuestion.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Text/PhraseBreaks.hpp"

namespace larkspin::MessageQuestion {

namespace {

// What the dialog holds while it is shown: the completion and the answer
// that says yes. Freed with the dialog.
struct Pending {
    Completion<bool> completion;
    std::string yes;
};

void onResponse(AdwMessageDialog* dialog, const char* response, gpointer data) {
    // Only the first answer counts; the completion goes with the dialog.
    g_signal_handlers_disconnect_by_func(dialog, reinterpret_cast<gpointer>(&onResponse), data);
    auto* pending = static_cast<Pending*>(data);
    pending->completion.resolve(pending->yes == response);
}

// The label under `root` that shows `text`, or null.
GtkWidget* labelShowing(GtkWidget* root, const std::string& text) {
    if (GTK_IS_LABEL(root) && text == gtk_label_get_text(GTK_LABEL(root))) return root;
    for (GtkWidget* child = gtk_widget_get_first_child(root); child; child = gtk_widget_get_next_sibling(child)) {
        if (GtkWidget* found = labelShowing(child, text)) return found;
    }
    return nullptr;
}

// The heading wraps between its phrases, not inside a word ("关 / 闭").
void keepPhrasesTogether(GtkWidget* dialog, const std::string& heading) {
    const std::vector<PhraseBreaks::Run> runs = PhraseBreaks::keptTogether(heading);
    GtkWidget* label = runs.empty() ? nullptr : labelShowing(dialog, heading);
    if (!label) return;
    PangoAttrList* attributes = pango_attr_list_new();
    for (const PhraseBreaks::Run& run : runs) {
        PangoAttribute* unbroken = pango_attr_allow_breaks_new(FALSE);
        unbroken->start_index = static_cast<guint>(run.begin);
        unbroken->end_index = static_cast<guint>(run.end);
        pango_attr_list_insert(attributes, unbroken);
    }
    gtk_label_set_attributes(GTK_LABEL(label), attributes);
    pango_attr_list_unref(attributes);
}

Task<bool> present(GObjectPtr<GtkWindow> parent, YesNo question) {
    auto start = [parent, question](Completion<bool> completion) {
        AdwMessageDialog* message = make(parent.get(), question.heading, question.body);
        for (const Answer& answer : question.answers)
            adw_message_dialog_add_response(message, answer.id.c_str(), answer.label.c_str());
        if (question.destructive)
            adw_message_dialog_set_response_appearance(message, question.yes.c_str(), ADW_RESPONSE_DESTRUCTIVE);
        adw_message_dialog_set_default_response(message, question.cancel.c_str());
        adw_message_dialog_set_close_response(message, question.cancel.c_str());
        auto* held = new Pending{std::move(completion), question.yes};
        g_object_set_data_full(G_OBJECT(message), "larkspin-answer", held,
                               [](gpointer data) { delete static_cast<Pending*>(data); });
        g_signal_connect(message, "response", G_CALLBACK(onResponse), held);
        gtk_window_present(GTK_WINDOW(message));
    };
    co_return co_await awaitCompletion<bool>(start);
}

}  // namespace

AdwMessageDialog* make(GtkWindow* parent, const std::string& heading, const std::string& body) {
    GtkWidget* dialog = adw_message_dialog_new(parent, nullptr, nullptr);
    AdwMessageDialog* message = ADW_MESSAGE_DIALOG(dialog);
    adw_message_dialog_set_heading_use_markup(message, FALSE);
    adw_message_dialog_set_heading(message, heading.c_str());
    keepPhrasesTogether(dialog, heading);
    adw_message_dialog_set_body_use_markup(message, FALSE);
    adw_message_dialog_set_body(message, body.c_str());
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    if (parent) gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
    return message;
}

Task<bool> ask(GtkWindow* parent, YesNo question) {
    return present(GObjectPtr<GtkWindow>::retain(parent), std::move(question));
}

YesNo confirmation(OpenConfirmation::Question question, std::string yesId, bool destructive) {
    YesNo asked;
    asked.heading = std::move(question.heading);
    asked.body = std::move(question.body);
    asked.answers = {{"cancel", std::move(question.cancelLabel)}, {yesId, std::move(question.openLabel)}};
    asked.yes = std::move(yesId);
    asked.cancel = "cancel";
    asked.destructive = destructive;
    return asked;
}

}  // namespace larkspin::MessageQuestion
