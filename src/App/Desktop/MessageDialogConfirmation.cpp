#include "App/Desktop/MessageDialogConfirmation.hpp"

#include "Window/Desktop/MessageQuestion.hpp"

namespace larkspin {

MessageDialogConfirmation::MessageDialogConfirmation(std::function<GtkWindow*()> parent)
    : parent_(std::move(parent)) {}

Task<bool> MessageDialogConfirmation::confirm(Question question) {
    GtkWindow* parent = parent_ ? parent_() : nullptr;
    // Enter answers the default and Esc the close response: both cancel.
    return MessageQuestion::ask(parent, MessageQuestion::confirmation(std::move(question), openResponse, false));
}

}  // namespace larkspin
