#pragma once

#include <memory>

#include "App/ShellDocuments.hpp"
#include "Document/DocumentOpening.hpp"

namespace larkspin {

// Stands in for the program's documents until the document layer provides
// them: it opens nothing (every open fails with a plain reason), has no
// documents, nothing to flush and nothing to review. Main thread.
class PlaceholderDocuments final : public DocumentController, public ShellDocuments {
public:
    Task<Opened> openDocument(std::filesystem::path path, bool display) override;
    std::shared_ptr<OpenedDocument> makeUntitledDocument(std::string_view typeIdentifier) override;
    void addDocument(std::shared_ptr<OpenedDocument> document) override;

    std::size_t documentCount() const override { return 0; }
    std::size_t flushDraftsNow() override { return 0; }
    void reviewBeforeQuit(std::function<void(bool proceed)> done) override { done(true); }
    bool canPerform(DocumentCommand) const override { return false; }
    void perform(DocumentCommand) override {}
    WindowStateSnapshot windowState() const override { return {}; }
    void setChangeHandler(std::function<void()>) override {}
};

}  // namespace larkspin
