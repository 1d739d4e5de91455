#include "Document/DocumentUnits.hpp"

#include "Document/Document.hpp"
#include "Storage/FileStore.hpp"

namespace larkspin {

DocumentUnits::DocumentUnits(Document& document, Clock& clock, const SysCalls& sys,
                             std::shared_ptr<DraftWriter> draftWriter,
                             std::optional<std::filesystem::path> draftDirectory)
    : document_(document),
      clock_(clock),
      draftWriter_(std::move(draftWriter)),
      disk_(*this, clock, sys),
      saving_(*this, std::make_shared<FileStore>(sys)) {
    setDraftDirectory(std::move(draftDirectory));
}

DocumentUnits::~DocumentUnits() = default;

void DocumentUnits::setDraftDirectory(std::optional<std::filesystem::path> directory) {
    if (drafts_ && directory && drafts_->directory() == *directory) return;
    drafts_.reset();
    if (directory) drafts_ = std::make_unique<DraftScheduler>(*this, std::move(*directory), clock_, draftWriter_);
}

DocumentModel& DocumentUnits::model() {
    return document_.model();
}

std::optional<std::filesystem::path> DocumentUnits::fileURL() const {
    return document_.path();
}

std::string DocumentUnits::logID() const {
    return document_.logID();
}

std::string DocumentUnits::displayName() const {
    return document_.displayName();
}

void DocumentUnits::setExternalIssue(ExternalIssue issue) {
    document_.setExternalIssue(std::move(issue));
}

DocumentModel& DocumentUnits::diskModel() {
    return document_.model();
}

ExternalChangePolicy DocumentUnits::externalChangePolicy() const {
    return document_.externalChangePolicy();
}

void DocumentUnits::clearExternalIssue(const ExternalIssueKinds& kinds) {
    document_.clearExternalIssue(kinds);
}

void DocumentUnits::adoptReload(LoadedDocument loaded) {
    document_.adoptReload(std::move(loaded));
}

void DocumentUnits::fileDidMove(const std::filesystem::path& path) {
    document_.followMove(path);
}

void DocumentUnits::fileReplaced() {
    document_.fileReplaced();
}

void DocumentUnits::adoptLoadedIfNeeded() {
    document_.adoptLoadedIfNeeded();
}

void DocumentUnits::clearExternalIssue(ExternalIssueKinds kinds) {
    document_.clearExternalIssue(kinds);
}

void DocumentUnits::documentDidSave(const std::filesystem::path& target, SaveOperation operation,
                                    const DiskVersion&) {
    document_.didSave(target, operation);
}

void DocumentUnits::resolveDraft(RecoveryDraft::Resolution resolution) {
    if (drafts_) drafts_->resolve(resolution);
}

void DocumentUnits::restartDraft() {
    if (drafts_) drafts_->restart();
}

void DocumentUnits::scheduleDraftIfNeeded() {
    if (drafts_) drafts_->scheduleIfNeeded();
}

void DocumentUnits::saveDidEnd() {
    disk_.saveDidEnd();
}

}  // namespace larkspin
