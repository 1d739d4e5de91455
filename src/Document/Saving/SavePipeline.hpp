#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Document/ExternalIssue.hpp"
#include "Document/Saving/SaveDecision.hpp"
#include "Model/DocumentModel.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Storage/FileStore.hpp"
#include "Storage/RecoveryDraft.hpp"

namespace larkspin {

// What the save pipeline needs of its document. Main thread.
class SaveClient {
public:
    virtual ~SaveClient() = default;

    virtual DocumentModel& model() = 0;
    // The document's own file; none for an untitled document.
    virtual std::optional<std::filesystem::path> fileURL() const = 0;
    // The first two arguments of every log line: "文档 doc=<logID> <displayName> ".
    virtual std::string logID() const = 0;
    virtual std::string displayName() const = 0;
    // Brings a read whose adoption is pending into the model first.
    virtual void adoptLoadedIfNeeded() {}

    virtual void setExternalIssue(ExternalIssue issue) = 0;
    virtual void clearExternalIssue(ExternalIssueKinds kinds) = 0;

    // A save other than save to wrote `target`; the model is already marked
    // saved. The document takes the file's modification date, and for a
    // save as moves to `target` (its reader's location, its file watch);
    // when the model is clean it clears its edited flag.
    virtual void documentDidSave(const std::filesystem::path& target, SaveOperation operation,
                                 const DiskVersion& version) = 0;
    // The recovery draft: resolved when a save leaves the text clean;
    // restarted (the next draft is written afresh) when the user typed during
    // the save; scheduled when the text is still edited after a save.
    virtual void resolveDraft(RecoveryDraft::Resolution resolution) = 0;
    virtual void restartDraft() = 0;
    virtual void scheduleDraftIfNeeded() = 0;
    // The save that ran has ended and the model no longer says it is saving:
    // the file-change side handles the outcome it parked meanwhile.
    virtual void saveDidEnd() = 0;
};

// The one way a document writes its text: decides and snapshots on the main
// thread, encodes on the workers, writes through its FileStore (the only
// writer), and applies the outcome to the model, the notice bar and the
// draft. A text its encoding cannot hold is refused once encoded (the model
// says it is saving until then).
//
// One save runs at a time. A request that comes while one runs is queued and
// answered only once a save that covers it has ended: when the running save
// ends, each queued request is decided afresh (a plain save of what is now a
// clean file is done, anything else writes), requests for the same target and
// operation sharing one save. Never reported done before its text is written.
//
// Owned by the document, among its last members. If it goes while a save
// runs, the write still finishes on the store's queue; nothing is applied and
// no completion is called.
class SavePipeline {
public:
    // Called once per request, on the main thread: nothing for done, else why.
    using Completion = std::function<void(std::optional<SaveError>)>;

    SavePipeline(SaveClient& client, std::shared_ptr<FileStore> store);
    SavePipeline(const SavePipeline&) = delete;
    SavePipeline& operator=(const SavePipeline&) = delete;

    // Refusals and "nothing to do" answer before this returns; a write (or a
    // text found not to fit its encoding) answers later.
    void save(std::filesystem::path target, SaveOperation operation, Completion done);

    // The notice bar's retry: clears the failed-save notice and saves again to
    // the target and with the operation that failed (a save as elsewhere is
    // retried as that save as); without a failed save on record, a plain save
    // of the document's own file. Refused like a save when there is neither.
    void retryFailedSave(Completion done);

    // True from the start of a write until its outcome is applied and the
    // queued requests are started.
    bool isSaveRunning() const { return running_; }

    struct Target {
        std::filesystem::path path;
        SaveOperation operation = SaveOperation::save;
        bool operator==(const Target&) const = default;
    };
    // The last failed save's target, cleared by a successful save of it.
    const std::optional<Target>& failedSave() const { return failed_; }

private:
    struct Queued {
        Target target;
        std::vector<Completion> completions;
    };

    void start(Target target, std::vector<Completion> completions);
    Task<void> run(Target target, DocumentSnapshot snapshot, std::optional<DiskVersion> expected,
                   std::vector<Completion> completions);
    std::optional<SaveError> finish(const SaveOutcome& outcome, const DocumentSnapshot& snapshot,
                                    const Target& target);
    void startQueued();

    SaveClient& client_;
    std::shared_ptr<FileStore> store_;
    bool running_ = false;
    std::vector<Queued> queued_;
    std::optional<Target> failed_;
    TaskScope tasks_;  // last
};

}  // namespace larkspin
