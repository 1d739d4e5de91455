#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Document/Disk/DocumentDiskWatch.hpp"
#include "Document/Drafts/DraftScheduler.hpp"
#include "Document/Saving/SavePipeline.hpp"

namespace larkspin {

class Document;

// The units a document owns and drives: its file watch, its save pipeline and
// its recovery draft (none without a recovery store), with the document as
// each one's client. Owned by the document; main thread.
class DocumentUnits final : public DocumentDiskWatch::Client, public SaveClient, public DraftClient {
public:
    // The watch reads and the save pipeline's own file store writes through
    // `sys`; drafts are written through `draftWriter`.
    DocumentUnits(Document& document, Clock& clock, const SysCalls& sys,
                  std::shared_ptr<DraftWriter> draftWriter,
                  std::optional<std::filesystem::path> draftDirectory);
    ~DocumentUnits() override;
    DocumentUnits(const DocumentUnits&) = delete;
    DocumentUnits& operator=(const DocumentUnits&) = delete;

    DocumentDiskWatch& disk() { return disk_; }
    SavePipeline& saving() { return saving_; }
    // None without a recovery store.
    DraftScheduler* drafts() { return drafts_.get(); }
    // A recovery store given later: the drafts go to its directory.
    void setDraftDirectory(std::optional<std::filesystem::path> directory);

    // ---- shared by the clients ----
    DocumentModel& model() override;
    std::optional<std::filesystem::path> fileURL() const override;
    std::string logID() const override;
    std::string displayName() const override;
    void setExternalIssue(ExternalIssue issue) override;

    // ---- DocumentDiskWatch::Client ----
    DocumentModel& diskModel() override;
    ExternalChangePolicy externalChangePolicy() const override;
    void clearExternalIssue(const ExternalIssueKinds& kinds) override;
    void adoptReload(LoadedDocument loaded) override;
    void fileDidMove(const std::filesystem::path& path) override;
    void fileReplaced() override;

    // ---- SaveClient ----
    void adoptLoadedIfNeeded() override;
    void clearExternalIssue(ExternalIssueKinds kinds) override;
    void documentDidSave(const std::filesystem::path& target, SaveOperation operation,
                         const DiskVersion& version) override;
    void resolveDraft(RecoveryDraft::Resolution resolution) override;
    void restartDraft() override;
    void scheduleDraftIfNeeded() override;
    void saveDidEnd() override;

private:
    Document& document_;
    Clock& clock_;
    std::shared_ptr<DraftWriter> draftWriter_;
    DocumentDiskWatch disk_;
    SavePipeline saving_;
    std::unique_ptr<DraftScheduler> drafts_;
};

}  // namespace larkspin
