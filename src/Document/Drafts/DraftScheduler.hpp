#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Document/ExternalIssue.hpp"
#include "Model/DocumentModel.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Storage/RecoveryDraft.hpp"

namespace larkspin {

// The one queue that writes and resolves recovery drafts, shared by every
// document of the process (the program makes one and hands it to each): a
// draft's writes and its resolution reach the disk in the order they were
// queued. It also keeps, per draft identifier, the rules that hold whatever
// order the main thread queued things in: a draft of a lower source revision
// never replaces one of a higher revision, and a write queued before the
// draft was resolved never lands after it.
class DraftWriter {
public:
    explicit DraftWriter(std::string label = "dev.corvantel.larkspin.drafts");
    DraftWriter(const DraftWriter&) = delete;
    DraftWriter& operator=(const DraftWriter&) = delete;

    SerialExecutor& executor() { return executor_; }

    // On the queue. Writes `draft` (its bookmark made here, off the main
    // thread) unless its draft was resolved after `generation` began or a
    // higher revision is on disk; returns whether it wrote. Throws what the
    // write throws.
    bool write(RecoveryDraft draft, std::uint64_t generation, const std::filesystem::path& directory);
    // On the queue. Rewrites the draft without content, resolved, and keeps
    // every write of `generation` or earlier from landing afterwards.
    void resolve(RecoveryDraft record, std::uint64_t generation, const std::filesystem::path& directory);

private:
    struct Guard {
        std::uint64_t resolvedBefore = 0;  // writes of a generation below this are dropped
        std::optional<std::int64_t> highestRevision;
    };

    std::mutex mutex_;
    std::map<std::string, Guard> guards_;
    SerialExecutor executor_;
};

// What the draft scheduler needs of its document. Main thread.
class DraftClient {
public:
    virtual ~DraftClient() = default;
    virtual DocumentModel& model() = 0;
    virtual std::optional<std::filesystem::path> fileURL() const = 0;
    virtual std::string logID() const = 0;
    virtual std::string displayName() const = 0;
};

// A document's recovery draft: written 2 s after the last change of an
// edited, writable text; flushed at once when the document closes or the
// application resigns or quits; resolved when the text is saved, reloaded or
// the document closes. Every write and resolution goes through the shared
// DraftWriter, in order: a flush resumes once the writes queued before it are
// done, and a resolution lands after them. Owned by the document, among its
// last members; main thread.
class DraftScheduler {
public:
    static constexpr Clock::Duration draftDelay = std::chrono::seconds(2);

    // `writer` is required (std::invalid_argument otherwise).
    DraftScheduler(DraftClient& client, std::filesystem::path directory, Clock& clock,
                   std::shared_ptr<DraftWriter> writer);
    ~DraftScheduler();
    DraftScheduler(const DraftScheduler&) = delete;
    DraftScheduler& operator=(const DraftScheduler&) = delete;

    const std::string& draftID() const { return draftID_; }
    const std::filesystem::path& directory() const { return directory_; }
    std::optional<std::int64_t> lastDraftRevision() const { return lastDraftRevision_; }

    // The model changed: (re)starts the 2 s wait when the text needs a draft
    // (edited, writable, not closing, not already written or pending).
    void scheduleIfNeeded();
    // Writes the current text now (when it needs a draft) and resumes once it
    // and every write queued before it are on disk. Await it from a task of
    // the document's owner.
    Task<void> flush();
    // The same, blocking the calling thread: for termination only (after
    // MainThread::beginQuitting()). The draft stays unresolved.
    void flushAndWait();

    // The text was saved, reloaded or closed: cancels a pending write and, when
    // a draft was written (or queued), marks it resolved behind the writes
    // already queued. The identifier stays: a later draft reuses the file.
    void resolve(RecoveryDraft::Resolution resolution);
    // The user typed during a save: the next draft is written afresh.
    void restart();
    // Nothing is scheduled from now on (the document is closing).
    void beginClosing() { isClosing_ = true; slot_.cancel(); }

    // Takes a draft that launch recovery gives the document: replaces the
    // whole text (an edit), takes the draft's identifier and creation date,
    // and counts the restored text as written. Returns the notice to show;
    // nothing (and no change) for a draft without content. The caller has
    // checked with canTakeDraft (or chose an untitled document, `setAside`
    // saying why: an untitled document then shows the missing notice with
    // that reason, and the model counts as missing only when the file is
    // gone).
    std::optional<ExternalIssue> applyDraft(const RecoveryDraft& draft,
                                            std::optional<DraftSetAside> setAside = std::nullopt);

    // The draft as it would be written now (for tests and the writer).
    RecoveryDraft makeDraft(const DocumentSnapshot& snapshot, Date now);

private:
    bool needsDraft() const;
    Task<void> debounced(std::int64_t revision);
    Task<void> writeNow(bool barrierOnly);
    void didWrite(std::int64_t revision);

    DraftClient& client_;
    std::filesystem::path directory_;
    Clock& clock_;
    std::shared_ptr<DraftWriter> writer_;
    std::string draftID_;
    std::optional<Date> draftCreatedAt_;
    std::optional<std::int64_t> scheduledDraftRevision_;
    std::optional<std::int64_t> lastDraftRevision_;
    std::uint64_t generation_ = 1;
    int queuedWrites_ = 0;
    bool draftOnDisk_ = false;  // written (or applied) and not yet resolved
    bool isClosing_ = false;
    TaskSlot slot_;  // last: the debounced write
};

// Whether a document can take a recovery draft in place: its text is
// writable (not a restricted preview, not a failed read, not Latin-1) and,
// when both know one, its file's content is still the one the draft was
// taken from (size and digest). Otherwise the draft goes into a new untitled
// document, where it shows the missing notice.
bool canTakeDraft(const DocumentModel& model, const RecoveryDraft& draft);

}  // namespace larkspin
