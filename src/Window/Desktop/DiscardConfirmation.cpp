#include "Window/Desktop/DiscardConfirmation.hpp"

#include "Window/Desktop/MessageQuestion.hpp"

namespace larkspin::DiscardConfirmation {

Task<bool> ask(GtkWindow* parent, OpenConfirmation::Question question) {
    return MessageQuestion::ask(parent, MessageQuestion::confirmation(std::move(question), discardResponse, true));
}

}  // namespace larkspin::DiscardConfirmation
