#include "Window/Desktop/DiscardConfirmation.hpp"

#include "Window/Desktop/MessageQuestion.hpp"

namespace larkspin::DiscardConfirmation {

Task<bool> ask(GtkWindow* parent, OpenConfirmation::Question question) {
    MessageQuestion::YesNo asked;
    asked.heading = std::move(question.heading);
    asked.body = std::move(question.body);
    asked.answers = {{cancelResponse, std::move(question.cancelLabel)},
                     {discardResponse, std::move(question.openLabel)}};
    asked.yes = discardResponse;
    asked.cancel = cancelResponse;
    asked.destructive = true;
    return MessageQuestion::ask(parent, std::move(asked));
}

}  // namespace larkspin::DiscardConfirmation
