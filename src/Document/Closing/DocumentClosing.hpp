#pragma once

#include <memory>

#include "Document/Closing/CloseReview.hpp"

namespace larkspin {

class Document;

// A document as the close review sees it: its draft, its save (the Save
// command's), its tab and its end. Main thread.
class DocumentClosing final : public ClosingDocument {
public:
    explicit DocumentClosing(std::shared_ptr<Document> document) : document_(std::move(document)) {}

    const std::shared_ptr<Document>& document() const { return document_; }

    std::string displayName() const override;
    bool isEdited() const override;
    Task<void> flushDraft() override;
    void save(std::function<void(std::optional<SaveError>)> done) override;
    void showTab() override;
    void showCloseFailure(std::string message) override;
    void close() override;

private:
    std::shared_ptr<Document> document_;
};

}  // namespace larkspin
