#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Document/Disk/DiskChangeReaction.hpp"
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
// FileChangeObserver with its own move tracker), judges every settled
// verdict against the model's baseline (DiskChangeReaction), and writes the
// result into the model's disk state, the document's notice and, for a
// reload, the document's text. Owned and driven by the document; main thread.
//
// The watch writes only the model's disk state (baseline, conflict version,
// missing and access-denied flags); text comes into the model only through
// the client's adoption of a reload.
//
// The document follows one file: the one its text was read from (the
// baseline's identity). Paths only lead to it. A move reported by the
// tracker, a verdict that finds no file at the path or another file there,
// are first checked against that file itself (its descriptor, held by the
// tracker and by the watch): while it still has a name elsewhere, the
// document follows it there, however many renames came in between and
// whatever the path names now. Only once it has no name left is the file at
// the path judged, as its replacement.
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

        // The file now lives at `path` (a rename or a move seen on the file
        // itself): take it as the document's location and give it to the
        // reader. The watch restarts itself there.
        virtual void fileDidMove(const std::filesystem::path& path) = 0;

        // The two fields of the document's log prefix: its log identifier
        // and its display name.
        virtual std::string logID() const = 0;
        virtual std::string displayName() const = 0;
    };

    // Grace period after a rename before the file counts as missing.
    static constexpr Clock::Duration missingGrace = std::chrono::milliseconds(1500);
    // How long a file that could not be watched (no permission, not there)
    // waits before its watch is tried again; tried for as long as it fails,
    // so that the file is followed once it can be (a chmod, a file put back).
    static constexpr Clock::Duration watchRetryDelay = std::chrono::seconds(2);

    // Watches nothing yet. The grace period and the stabiliser's timers read
    // `clock`; the files are read through `sys`.
    explicit DocumentDiskWatch(Client& client, Clock& clock = Clock::system(),
                               const SysCalls& sys = realSysCalls());
    ~DocumentDiskWatch();
    DocumentDiskWatch(const DocumentDiskWatch&) = delete;
    DocumentDiskWatch& operator=(const DocumentDiskWatch&) = delete;

    // Starts watching `path`, in place of whatever was watched: the pending
    // grace period, the last loss and a parked verdict go. Opens nothing on
    // the calling thread; a file that cannot be watched arrives as an
    // unreadable verdict, judged like any other.
    void start(std::filesystem::path path);
    // Stops watching and cancels the grace period and a reload under way.
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
    // adoption; false (and nothing happens) when nothing is watched. A reload
    // replaces one under way. When the text is edited or a save starts
    // before the read is back, the read is dropped and a fresh verdict asked
    // for. A failed read becomes the matching issue; the text stays.
    bool reloadFromDisk(std::string reason);
    bool isReloading() const { return reloading_; }
    // True while the followed file is being looked for after a move or a
    // verdict that found another file (or none) at the path.
    bool isLocating() const { return locating_; }
    bool isWatchRetryPending() const { return watchRetryPending_; }
    bool hasParkedOutcome() const { return parked_.has_value(); }

    // Blocks (a few seconds at most) until the observer's queues have run
    // what they hold; for tests.
    bool drainForTesting();

private:
    // Where the followed file is, as its descriptor tells (worked out on a
    // worker).
    struct Whereabouts {
        InodeWatch::File file;       // null when no descriptor held it
        std::filesystem::path name;  // its path now; empty when it has none
        bool atPath = false;         // it is the file the watched path names
    };

    Task<void> reload(std::string reason, std::string expectedIdentity);
    Task<void> locate(std::optional<ContentStabilizer::Outcome> outcome,
                      std::filesystem::path movedTo);
    bool contradictsFollowedFile(const ContentStabilizer::Outcome& outcome) const;
    void judge(const ContentStabilizer::Outcome& outcome);
    Task<void> waitOutGrace();
    Task<void> retryWatch();
    void apply(DiskChangeAction action, const ContentStabilizer::Outcome& outcome);
    void markMissing(std::string_view reason);
    void cancelGrace();
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
    FileLoss lastLoss_ = FileLoss::none;
    std::optional<ContentStabilizer::Outcome> parked_;
    bool lastVerdictUnreadable_ = false;
    bool gracePending_ = false;
    bool watchRetryPending_ = false;
    // The verdict that came with a watch that could not start: a retry that
    // ends the same way says nothing again.
    std::optional<ContentStabilizer::Outcome> unwatchedOutcome_;
    bool reloading_ = false;
    int reloadCount_ = 0;
    // The identity of the last stable verdict judged: what a reload expects
    // to read.
    std::string judgedIdentity_;
    // The followed file's descriptor as last found: still open while the
    // watch is made again after a move (the new watch may fail to start on a
    // name the file has already left).
    InodeWatch::File followed_;
    // Verdicts handed to the watch so far: a search tells whether a newer
    // one came while it ran.
    std::uint64_t verdictCount_ = 0;
    bool locating_ = false;
    TaskSlot locateSlot_;
    TaskSlot reloadSlot_;
    TaskSlot graceSlot_;
    TaskSlot watchRetrySlot_;
};

}  // namespace larkspin
