#include "App/Desktop/MessageDialogConfirmation.hpp"

#include "Window/Desktop/MessageQuestion.hpp"

namespace larkspin {

MessageDialogConfirmation::MessageDialogConfirmation(std::function<GtkWindow*()> parent)
    : parent_(std::move(parent)) {}

Task<bool> MessageDialogConfirmation::confirm(Question question) {
    GtkWindow* parent = parent_ ? parent_() : nullptr;
    MessageQuestion::YesNo asked;
    asked.heading = std::move(question.heading);
    asked.body = std::move(question.body);
    asked.answers = {{cancelResponse, std::move(question.cancelLabel)},
                     {openResponse, std::move(question.openLabel)}};
    asked.yes = openResponse;
    // Enter answers the default and Esc the close response: both cancel.
    asked.cancel = cancelResponse;
    return MessageQuestion::ask(parent, std::move(asked));
}

}  // namespace larkspin
