#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Document/Disk/DiskChangeReaction.hpp"
#include "Document/Disk/DiskWatchState.hpp"
#include "Document/ExternalIssue.hpp"
#include "Model/LoadedDocument.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Platform/Files/InodeWatch.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Platform/Log.hpp"
#include "Storage/ContentStabilizer.hpp"
#include "Storage/FileChangeEvent.hpp"
#include "Storage/FileChangeObserver.hpp"

namespace larkspin {

class DocumentModel;

// What a document does about its file while it is open: watches it (a
// FileChangeObserver with its own file tracker), judges every settled
// verdict against the model's baseline (DiskChangeReaction), and writes the
// result into the model's disk state, the document's notice and, for a
// reload, the document's text. Owned and driven by the document; main thread.
//
// The watch writes only the model's disk state (baseline, conflict version,
// missing and access-denied flags); text comes into the model only through
// the client's adoption of a reload.
//
// Which file the path leads to is decided once, by the observer's file
// tracker (FileTracker): it reports a move only as a settled fact, to be
// followed, and a file replaced at its path (an editor's save, a link
// retargeted, a file put back) as a change of the path's content. A rename
// is timed once, by the tracker's grace period: a verdict that finds the
// path empty after a rename waits, in state grace and with no clock of its
// own, for the tracker to report the file's new path (followed) or that it
// has none (missing). The watch judges content; its state is one
// DiskWatchState, moved only as that table allows. Besides, precisely:
// - the last loss it heard (a delete or a rename) only chooses whether a
//   verdict that finds the path empty waits for the tracker or marks the
//   file missing at once;
// - while the file is missing it asks for a verdict now and then (a folder
//   that went is heard of no more), which the stabiliser gives;
// - when the watch made at a moved file's new path finds nothing there (the
//   file moved on before it stood), it reads where the tracker's file is
//   now from its descriptor and follows it there: the one path the watch
//   finds itself, between one tracker and the next.
class DocumentDiskWatch {
public:
    // What the watch needs of its document.
    class Client {
    public:
        virtual ~Client() = default;

        // The document's model: read at every decision; its disk state is
        // written by the watch.
        virtual DocumentModel& diskModel() = 0;
        // Asked at each decision (the preference "document.externalChangePolicy").
        virtual ExternalChangePolicy externalChangePolicy() const = 0;

        // The document's notice: a newer issue replaces the older one; an
        // empty set clears any issue.
        virtual void setExternalIssue(ExternalIssue issue) = 0;
        virtual void clearExternalIssue(const ExternalIssueKinds& kinds) = 0;

        // A reload read the file afresh (never with a failure): adopt it into
        // the model (DocumentModel::adopt), resolve the recovery draft as
        // reloaded and render the new text, keeping the reader's reading
        // position: this is not an opening.
        virtual void adoptReload(LoadedDocument loaded) = 0;

        // The file now lives at `path` (a move the file tracker settled):
        // take it as the document's location and give it to the reader. The
        // watch restarts itself there.
        virtual void fileDidMove(const std::filesystem::path& path) = 0;
        // A verdict found another file at the path than the one the text was
        // last judged against or read from (a replacement, the document's
        // own save by rename included): which file the document shows has
        // changed.
        virtual void fileReplaced() = 0;

        // The two fields of the document's log prefix: its log identifier
        // and its display name.
        virtual std::string logID() const = 0;
        virtual std::string displayName() const = 0;
    };

    // How long a file that could not be watched (no permission, not there)
    // waits before its watch is tried again; tried for as long as it fails,
    // so that the file is followed once it can be (a chmod, a file put back).
    // A missing file's path is read as often.
    static constexpr Clock::Duration watchRetryDelay = std::chrono::seconds(2);

    // Watches nothing yet. The trackers' and stabilisers' timers and the
    // watch's own retries read `clock`; the files are read through `sys`.
    explicit DocumentDiskWatch(Client& client, Clock& clock = Clock::system(),
                               const SysCalls& sys = realSysCalls());
    ~DocumentDiskWatch();
    DocumentDiskWatch(const DocumentDiskWatch&) = delete;
    DocumentDiskWatch& operator=(const DocumentDiskWatch&) = delete;

    // Starts watching `path`, in place of whatever was watched: a wait for
    // the tracker, the last loss and a parked verdict go. Opens nothing on
    // the calling thread; a file that cannot be watched arrives as an
    // unreadable verdict, judged like any other.
    void start(std::filesystem::path path);
    // Stops watching and cancels a wait for the tracker and a reload under
    // way.
    void stop();
    bool isWatching() const { return observer_ != nullptr; }
    // The watched file ("" before start()); a reload reads it.
    const std::filesystem::path& path() const { return path_; }

    // Asks for a fresh verdict on the file (the unreadable notice's retry,
    // a relocation). After an unreadable verdict the watch is started again
    // first, since the file may never have been watched.
    void sampleAgain();

    // A raw event, from the observer or the document: records a lost file
    // and follows a move.
    void handleFileEvent(const FileChangeEvent& event);
    // A settled verdict, from the observer or replayed after a save.
    void handleDiskOutcome(const ContentStabilizer::Outcome& outcome);
    // The document's save has ended (the model no longer saving, its
    // baseline the saved bytes): the verdict parked meanwhile is judged now.
    void saveDidEnd();
    // Follows the file to `path`, and watches it there.
    void fileDidMove(std::filesystem::path path);

    // Reads the file again on a worker and hands it to the client's
    // adoption; false (and nothing happens) when nothing is watched or a
    // save's verdict is parked. A reload replaces one under way. When the
    // text is edited or a save starts before the read is back, or another
    // file than the one last judged is read, the read is dropped and a fresh
    // verdict asked for. A failed read becomes the matching issue; the text
    // stays.
    bool reloadFromDisk(std::string reason);
    DiskWatchState state() const { return state_; }
    bool isReloading() const { return state_ == DiskWatchState::reloading; }
    bool isWatchRetryPending() const { return watchRetrySlot_.holdsTask(); }
    bool hasParkedOutcome() const { return parked_.has_value(); }

    // Blocks (a few seconds at most) until the observer's queues have run
    // what they hold; for tests.
    bool drainForTesting();

private:
    Task<void> reload(std::string reason, std::string expectedIdentity);
    void judge(const ContentStabilizer::Outcome& outcome);
    Task<void> lookWhileMissing();
    Task<void> findMovedFile(InodeWatch::File file, ContentStabilizer::Outcome outcome);
    Task<void> retryWatch();
    void apply(DiskChangeAction action, const ContentStabilizer::Outcome& outcome);
    void markMissing(std::string_view reason);
    void moveTo(DiskWatchState next);
    void startObserver();
    void makeObserver();

    template <typename... Args>
    void log(LogLevel level, std::string_view message, const Args&... args) const {
        std::string format = "文档 doc=%{public}s %{private}s ";
        format += message;
        AppLog::document.log(level, format, client_.logID(), client_.displayName(), args...);
    }

    Client& client_;
    Clock& clock_;
    const SysCalls sys_;
    std::filesystem::path path_;
    std::unique_ptr<FileChangeObserver> observer_;
    DiskWatchState state_ = DiskWatchState::stopped;
    // How the file was last lost since it was last seen (from its events).
    FileLoss lastLoss_ = FileLoss::none;
    // The verdict set aside while a save runs (state parked).
    std::optional<ContentStabilizer::Outcome> parked_;
    // The verdict that came with a watch that could not start: a retry that
    // ends the same way says nothing again.
    std::optional<ContentStabilizer::Outcome> unwatchedOutcome_;
    int reloadCount_ = 0;
    // The identity of the last stable verdict judged: what a reload expects
    // to read.
    std::string judgedIdentity_;
    // The file the tracker followed to a new path, until the watch made
    // there stands (it may have moved on already).
    InodeWatch::File movedFile_;
    TaskSlot reloadSlot_;
    TaskSlot watchRetrySlot_;
    TaskSlot missingLookSlot_;
    TaskSlot movedSlot_;
};

}  // namespace larkspin
