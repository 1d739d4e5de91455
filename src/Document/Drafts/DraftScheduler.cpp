#include "Document/Drafts/DraftScheduler.hpp"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Files/FileBookmark.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Storage/RecoveryStore.hpp"

namespace larkspin {

namespace {

std::string describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace

// MARK: - DraftWriter

DraftWriter::DraftWriter(std::string label) : executor_(std::move(label)) {}

bool DraftWriter::write(RecoveryDraft draft, std::uint64_t generation, const std::filesystem::path& directory) {
    {
        std::lock_guard lock(mutex_);
        const Guard& guard = guards_[draft.draftID];
        if (generation < guard.resolvedBefore) return false;
        if (guard.highestRevision && draft.sourceRevision < *guard.highestRevision) return false;
    }
    if (draft.fileIdentity && !draft.fileIdentity->bookmark)
        draft.fileIdentity->bookmark = FileBookmark::make(draft.fileIdentity->path);
    RecoveryStore::writeAtomically(draft, directory);
    std::lock_guard lock(mutex_);
    Guard& guard = guards_[draft.draftID];
    guard.highestRevision = std::max(guard.highestRevision.value_or(draft.sourceRevision), draft.sourceRevision);
    return true;
}

void DraftWriter::resolve(RecoveryDraft record, std::uint64_t generation, const std::filesystem::path& directory) {
    {
        std::lock_guard lock(mutex_);
        Guard& guard = guards_[record.draftID];
        guard.resolvedBefore = std::max(guard.resolvedBefore, generation + 1);
        // A later draft of the same document starts afresh.
        guard.highestRevision.reset();
    }
    record.content.reset();
    try {
        RecoveryStore::writeAtomically(record, directory);
    } catch (const std::exception& error) {
        AppLog::recovery.error("草稿 %{public}s 标记已解决失败：%{private}s", RecoveryDraft::shortID(record.draftID),
                               error.what());
    }
}

// MARK: - DraftScheduler

DraftScheduler::DraftScheduler(DraftClient& client, std::filesystem::path directory, Clock& clock,
                               std::shared_ptr<DraftWriter> writer)
    : client_(client),
      directory_(std::move(directory)),
      clock_(clock),
      writer_(std::move(writer)),
      draftID_(makeUUID()) {
    if (!writer_) throw std::invalid_argument("draft scheduler: a draft writer is required");
}

DraftScheduler::~DraftScheduler() = default;

bool DraftScheduler::needsDraft() const {
    const DocumentModel& model = const_cast<DraftClient&>(client_).model();
    return model.isDirty() && model.isWritable();
}

RecoveryDraft DraftScheduler::makeDraft(const DocumentSnapshot& snapshot, Date now) {
    RecoveryDraft draft;
    draft.draftID = draftID_;
    draft.displayName = client_.displayName();
    if (auto url = client_.fileURL()) draft.fileIdentity = RecoveryDraft::FileIdentity{std::nullopt, url->string()};
    if (snapshot.diskVersion) draft.originalDiskVersion = RecoveryDraft::StoredDiskVersion::from(*snapshot.diskVersion);
    draft.encoding = std::string(rawValue(snapshot.encoding));
    draft.lineEnding = std::string(rawValue(snapshot.lineEnding));
    draft.content = snapshot.text;
    draft.sourceRevision = snapshot.revision;
    if (!draftCreatedAt_) draftCreatedAt_ = now;
    draft.createdAt = *draftCreatedAt_;
    draft.updatedAt = now;
    return draft;
}

void DraftScheduler::scheduleIfNeeded() {
    if (isClosing_ || !needsDraft()) return;
    DocumentModel& model = client_.model();
    const std::int64_t revision = model.sourceRevision();
    if (lastDraftRevision_ == revision || scheduledDraftRevision_ == revision) return;
    scheduledDraftRevision_ = revision;
    if (model.recoveryState() == RecoveryState::noDraft || model.recoveryState() == RecoveryState::draftWritten)
        model.setRecoveryState(RecoveryState::draftPending);
    slot_.spawn(debounced(revision));
}

Task<void> DraftScheduler::debounced(std::int64_t /*revision*/) {
    co_await sleepFor(clock_, draftDelay);
    co_await writeNow(false);
}

Task<void> DraftScheduler::flush() {
    slot_.cancel();
    co_await writeNow(!needsDraft());
}

Task<void> DraftScheduler::writeNow(bool barrierOnly) {
    DraftWriter* writer = writer_.get();
    std::shared_ptr<DraftWriter> keep = writer_;
    const std::filesystem::path directory = directory_;
    if (barrierOnly || (lastDraftRevision_ && *lastDraftRevision_ == client_.model().sourceRevision())) {
        // Nothing new to write: wait for what is queued before us.
        auto nothing = [] {};
        co_await runOn(writer->executor(), nothing);
        co_return;
    }
    const DocumentSnapshot snapshot = client_.model().snapshot();
    RecoveryDraft draft = makeDraft(snapshot, clock_.wallNow());
    const std::uint64_t generation = generation_;
    ++queuedWrites_;
    auto job = [keep, draft = std::move(draft), generation, directory]() mutable {
        return keep->write(std::move(draft), generation, directory);
    };
    try {
        const bool written = co_await runOn(writer->executor(), std::move(job));
        --queuedWrites_;
        if (written && generation == generation_) didWrite(snapshot.revision);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        --queuedWrites_;
        AppLog::recovery.error("文档 doc=%{public}s %{private}s 写草稿失败：%{private}s", client_.logID(),
                               client_.displayName(), describe(std::current_exception()));
    }
}

void DraftScheduler::didWrite(std::int64_t revision) {
    draftOnDisk_ = true;
    if (!lastDraftRevision_ || *lastDraftRevision_ < revision) lastDraftRevision_ = revision;
    DocumentModel& model = client_.model();
    if (model.recoveryState() != RecoveryState::restoredFromDraft &&
        model.recoveryState() != RecoveryState::draftWritten)
        model.setRecoveryState(RecoveryState::draftWritten);
}

void DraftScheduler::flushAndWait() {
    slot_.cancel();
    if (!needsDraft()) {
        runAndWait(writer_->executor(), [] {});
        return;
    }
    const DocumentSnapshot snapshot = client_.model().snapshot();
    if (lastDraftRevision_ == snapshot.revision) {
        runAndWait(writer_->executor(), [] {});
        return;
    }
    RecoveryDraft draft = makeDraft(snapshot, clock_.wallNow());
    const std::uint64_t generation = generation_;
    auto writer = writer_;
    const std::filesystem::path directory = directory_;
    try {
        const bool written = runAndWait(writer_->executor(), [writer, &draft, generation, &directory] {
            return writer->write(std::move(draft), generation, directory);
        });
        if (written) {
            didWrite(snapshot.revision);
            scheduledDraftRevision_ = snapshot.revision;
        }
    } catch (const std::exception& error) {
        AppLog::recovery.error("文档 doc=%{public}s %{private}s 同步刷新草稿失败：%{private}s", client_.logID(),
                               client_.displayName(), error.what());
    }
}

void DraftScheduler::resolve(RecoveryDraft::Resolution resolution) {
    slot_.cancel();
    scheduledDraftRevision_.reset();
    DocumentModel& model = client_.model();
    // A draft written before the user typed during a save is still on disk
    // though no revision is recorded for it any more: it is resolved too.
    const bool existed = draftOnDisk_ || lastDraftRevision_ || queuedWrites_ > 0 ||
                         model.recoveryState() == RecoveryState::restoredFromDraft;
    draftOnDisk_ = false;
    lastDraftRevision_.reset();
    std::optional<Date> createdAt = draftCreatedAt_;
    draftCreatedAt_.reset();
    const std::uint64_t generation = generation_++;
    // Last: the model reports the change, and a text still edited schedules
    // a draft of the new generation.
    if (model.recoveryState() != RecoveryState::noDraft) model.setRecoveryState(RecoveryState::noDraft);
    if (!existed) return;

    RecoveryDraft record;
    record.draftID = draftID_;
    record.displayName = client_.displayName();
    if (auto url = client_.fileURL()) record.fileIdentity = RecoveryDraft::FileIdentity{std::nullopt, url->string()};
    const DocumentSnapshot snapshot = DocumentSnapshot{{}, model.sourceRevision(), model.encoding(),
                                                       model.lineEnding(), model.diskVersion()};
    if (snapshot.diskVersion)
        record.originalDiskVersion = RecoveryDraft::StoredDiskVersion::from(*snapshot.diskVersion);
    record.encoding = std::string(rawValue(snapshot.encoding));
    record.lineEnding = std::string(rawValue(snapshot.lineEnding));
    record.sourceRevision = snapshot.revision;
    const Date now = clock_.wallNow();
    record.createdAt = createdAt.value_or(now);
    record.updatedAt = now;
    record.resolvedAt = now;
    record.resolution = resolution;
    auto writer = writer_;
    const std::filesystem::path directory = directory_;
    writer_->executor().submit([writer, record = std::move(record), generation, directory]() mutable {
        writer->resolve(std::move(record), generation, directory);
    });
}

void DraftScheduler::restart() {
    lastDraftRevision_.reset();
    scheduledDraftRevision_.reset();
}

std::optional<ExternalIssue> DraftScheduler::applyDraft(const RecoveryDraft& draft,
                                                        std::optional<DraftSetAside> setAside) {
    if (!draft.content) return std::nullopt;
    DocumentModel& model = client_.model();
    draftOnDisk_ = true;
    draftID_ = draft.draftID;
    draftCreatedAt_ = draft.createdAt;
    slot_.cancel();
    // The draft on disk already holds the restored text.
    lastDraftRevision_ = model.sourceRevision() + 1;
    scheduledDraftRevision_ = lastDraftRevision_;
    model.replaceAll(*draft.content);
    lastDraftRevision_ = model.sourceRevision();
    scheduledDraftRevision_ = lastDraftRevision_;
    model.setRecoveryState(RecoveryState::restoredFromDraft);
    if (!client_.fileURL() && draft.fileIdentity) {
        const DraftSetAside why = setAside.value_or(DraftSetAside::sourceGone);
        if (why == DraftSetAside::sourceGone) model.noteMissing(true);
        return ExternalIssue::missing(why);
    }
    return ExternalIssue::recovered(draft.updatedAt);
}

bool canTakeDraft(const DocumentModel& model, const RecoveryDraft& draft) {
    if (!model.isWritable()) return false;
    if (draft.originalDiskVersion && model.diskVersion() &&
        !draft.originalDiskVersion->diskVersion().hasSameContent(*model.diskVersion()))
        return false;
    return true;
}

}  // namespace larkspin
