#include "Document/Closing/DocumentClosing.hpp"

#include "Document/Document.hpp"

namespace larkspin {

std::string DocumentClosing::displayName() const {
    return document_->displayName();
}

bool DocumentClosing::isEdited() const {
    return document_->isEdited();
}

Task<void> DocumentClosing::flushDraft() {
    return document_->flushDraft();
}

void DocumentClosing::save(std::function<void(std::optional<SaveError>)> done) {
    document_->save(std::move(done));
}

void DocumentClosing::showTab() {
    document_->showWindows();
}

void DocumentClosing::showCloseFailure(std::string message) {
    document_->showCloseFailure(std::move(message));
}

void DocumentClosing::close() {
    document_->close();
}

}  // namespace larkspin
