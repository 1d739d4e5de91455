#include "Document/Disk/DocumentDiskWatch.hpp"

#include <utility>

#include <sys/stat.h>

#include "Model/DocumentModel.hpp"
#include "Platform/Files/FileTracker.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Storage/DocumentLoader.hpp"

namespace larkspin {

namespace {

// The log word of an event's source.
std::string_view sourceWord(FileChangeEvent::Kind kind) {
    return kind >= FileChangeEvent::Kind::presenterDidChange ? "presenter" : "vnode";
}

// A failure's text for a log line.
std::string failureText(const DocumentLoadFailure& failure) {
    switch (failure.kind) {
        case DocumentLoadFailure::Kind::readError: return "readError(" + failure.message + ")";
        case DocumentLoadFailure::Kind::notFound: return "notFound";
        case DocumentLoadFailure::Kind::permissionDenied: return "permissionDenied";
        case DocumentLoadFailure::Kind::isDirectory: return "isDirectory";
    }
    return "unknown";
}

// The identity of the file a verdict read; empty for an unreadable one.
std::string identityOf(const ContentStabilizer::Outcome& outcome) {
    const auto* found = outcome.stableVersion();
    return found ? found->resourceIdentifier : std::string();
}

}  // namespace

DocumentDiskWatch::DocumentDiskWatch(Client& client, Clock& clock, const SysCalls& sys)
    : client_(client), clock_(clock), sys_(sys) {}

DocumentDiskWatch::~DocumentDiskWatch() {
    stop();
}

void DocumentDiskWatch::start(std::filesystem::path path) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    stop();
    path_ = std::move(path);
    startObserver();
}

void DocumentDiskWatch::startObserver() {
    cancelGrace();
    lastLoss_ = FileLoss::none;
    parked_.reset();
    lastVerdictUnreadable_ = false;
    unwatchedOutcome_.reset();
    makeObserver();
}

void DocumentDiskWatch::makeObserver() {
    if (observer_) observer_->stop();
    // The observer's relay is cut when it stops or goes (before this object
    // does: it is a member), so the callbacks never outlive the watch.
    auto onEvent = [this](const FileChangeEvent& event) { handleFileEvent(event); };
    auto onOutcome = [this](const ContentStabilizer::Outcome& o) { handleDiskOutcome(o); };
    observer_ = std::make_unique<FileChangeObserver>(path_, true, std::move(onEvent),
                                                     std::move(onOutcome), clock_, sys_);
}

Task<void> DocumentDiskWatch::retryWatch() {
    co_await sleepFor(clock_, watchRetryDelay);
    watchRetryPending_ = false;
    if (!observer_ || !observer_->couldNotWatch()) co_return;
    log(LogLevel::debug, "重新尝试观察源文件");
    // Whatever the new watch finds is judged as a verdict; one equal to the
    // last says nothing again.
    makeObserver();
    observer_->sampleAgain();
}

void DocumentDiskWatch::stop() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (observer_) {
        observer_->stop();
        observer_.reset();
    }
    cancelGrace();
    reloadSlot_.cancel();
    reloading_ = false;
    watchRetrySlot_.cancel();
    watchRetryPending_ = false;
    unwatchedOutcome_.reset();
    lastLoss_ = FileLoss::none;
    parked_.reset();
    locateSlot_.cancel();
    locating_ = false;
    followed_.reset();
    judgedIdentity_.clear();
}

void DocumentDiskWatch::sampleAgain() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!observer_) return;
    if (lastVerdictUnreadable_) startObserver();
    observer_->sampleAgain();
}

void DocumentDiskWatch::handleFileEvent(const FileChangeEvent& event) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    using Kind = FileChangeEvent::Kind;
    if (event.kind == Kind::delete_) lastLoss_ = FileLoss::deleted;
    if (event.kind == Kind::rename) lastLoss_ = FileLoss::renamed;
    if (event.kind == Kind::reopened) lastLoss_ = FileLoss::none;
    log(LogLevel::debug, "文件事件 %{public}s %{private}s", sourceWord(event.kind),
        event.description());
    if (event.kind != Kind::presenterDidMove || event.url.empty()) return;
    // Where the file went is asked of the file itself: by now it may have
    // moved on, or back, and a name it has already left would leave the
    // document on a path without a file. The observer's parts still look at
    // the old path: they are silenced until the watch is made again.
    if (observer_) {
        if (auto held = observer_->heldFile()) followed_ = std::move(held);
        observer_->stop();
    }
    locating_ = true;
    locateSlot_.spawn(locate(std::nullopt, event.url));
}

bool DocumentDiskWatch::contradictsFollowedFile(const ContentStabilizer::Outcome& outcome) const {
    const auto& baseline = client_.diskModel().diskVersion();
    if (outcome.stableVersion()) {
        return baseline && !baseline->resourceIdentifier.empty() &&
               identityOf(outcome) != baseline->resourceIdentifier;
    }
    return classifyOutcome(outcome, baseline) == DiskFinding::vanished;
}

Task<void> DocumentDiskWatch::locate(std::optional<ContentStabilizer::Outcome> outcome,
                                     std::filesystem::path movedTo) {
    // The file the tracker follows now, or the one found last time (a watch
    // made on a name the file had already left holds nothing).
    InodeWatch::File held = observer_ ? observer_->heldFile() : nullptr;
    if (!held) held = followed_;
    const std::uint64_t verdictsBefore = verdictCount_;
    auto look = [held, path = path_, sys = sys_] {
        Whereabouts where{held, {}, false};
        struct stat status {};
        if (!held || sys.fstat(held->get(), &status) != 0 || status.st_nlink == 0) return where;
        // A file with links and no name for a moment is asked again.
        for (int attempt = 0; attempt < 3 && where.name.empty(); ++attempt)
            where.name = currentPathOf(held->get());
        struct stat there {};
        where.atPath = sys.stat(path.c_str(), &there) == 0 && sameFile(there, status);
        return where;
    };
    const Whereabouts where = co_await runOn(WorkerPool::shared(), std::move(look));
    locating_ = false;
    // A file without a name is not kept open: what is at the path replaces it.
    followed_ = where.name.empty() ? nullptr : where.file;
    if (!where.name.empty() && !where.atPath) {
        log(LogLevel::info, "源文件不在原路径，跟踪到它现在的位置：%{private}s",
            where.name.filename().string());
        fileDidMove(where.name);
        co_return;
    }
    if (outcome) {
        if (!where.name.empty() && observer_ &&
            (observer_->couldNotWatch() || observer_->isStopped())) {
            // Back at the path it had left for a moment, while the watch was
            // being made there (or silenced after a move): made again, and
            // the file read afresh.
            startObserver();
            observer_->sampleAgain();
            co_return;
        }
        // The followed file is at the path (a watch on it hears what comes
        // next), or has no name left: the verdict stands as read, unless a
        // newer one was judged meanwhile.
        if (verdictCount_ == verdictsBefore) judge(*outcome);
        co_return;
    }
    // After a move: back at its path (watched again there), or without a
    // name, or nothing held: the reported path is the last place it had.
    if (where.name.empty()) {
        fileDidMove(std::move(movedTo));
        co_return;
    }
    startObserver();
    observer_->sampleAgain();
}

void DocumentDiskWatch::handleDiskOutcome(const ContentStabilizer::Outcome& outcome) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    lastVerdictUnreadable_ = outcome.unreadableReason() != nullptr;
    // A file that could not be watched is tried again until it can be: left
    // unwatched, a chmod or a file put back would never be seen.
    const bool unwatched = observer_ && observer_->couldNotWatch();
    if (unwatched && !watchRetryPending_) {
        watchRetryPending_ = true;
        watchRetrySlot_.spawn(retryWatch());
    }
    // No file, or another file, at the path: the followed file may have
    // moved (also with its folder, which it hears nothing of). Asked at
    // every verdict, a watch tried again included: the file may have moved
    // on since the watch failed. A verdict during a save is parked unjudged
    // and checked when it is replayed.
    ++verdictCount_;
    if (!client_.diskModel().isSaving() && contradictsFollowedFile(outcome)) {
        // A search under way for an older verdict, or after a move, finds
        // the same file: this one replaces it.
        locating_ = true;
        locateSlot_.spawn(locate(outcome, {}));
        return;
    }
    judge(outcome);
}

void DocumentDiskWatch::judge(const ContentStabilizer::Outcome& outcome) {
    // A watch tried again that ends as before says nothing again.
    const bool unwatched = observer_ && observer_->couldNotWatch();
    if (unwatchedOutcome_ && *unwatchedOutcome_ == outcome) return;
    unwatchedOutcome_.reset();
    if (unwatched) unwatchedOutcome_ = outcome;
    if (outcome.stableVersion()) judgedIdentity_ = identityOf(outcome);
    const auto situation = describeSituation(client_.diskModel(), outcome,
                                             client_.externalChangePolicy(), lastLoss_,
                                             gracePending_);
    apply(decideDiskChange(situation), outcome);
}

void DocumentDiskWatch::apply(DiskChangeAction action, const ContentStabilizer::Outcome& outcome) {
    using A = DiskChangeAction;
    // A verdict set aside changes nothing until the save's end replays it.
    if (action == A::park) {
        parked_ = outcome;
        return;
    }
    if (action == A::awaitGrace) return;
    // A newer verdict overrides a reload under way, unless it reloads again
    // (and so replaces it).
    if (action != A::reload) {
        reloadSlot_.cancel();
        reloading_ = false;
    }
    auto& model = client_.diskModel();
    const DiskVersion* found = outcome.stableVersion();
    const auto* reason = outcome.unreadableReason();
    if (found) {
        cancelGrace();
        lastLoss_ = FileLoss::none;
    }
    switch (action) {
        case A::park:
        case A::awaitGrace:
            return;
        case A::permission:
            cancelGrace();
            model.noteAccessDenied(true);
            client_.setExternalIssue(ExternalIssue::unreadable(reason->failure));
            log(LogLevel::error, "源文件读不到（权限）：%{private}s；文本保留", reason->detail);
            return;
        case A::readError:
            client_.setExternalIssue(ExternalIssue::unreadable(reason->failure));
            log(LogLevel::error, "源文件读取出错：%{private}s", reason->detail);
            return;
        case A::missingNow:
            markMissing(reason->detail);
            return;
        case A::startGrace:
            gracePending_ = true;
            graceSlot_.spawn(waitOutGrace());
            return;
        case A::keepConflict:
            log(LogLevel::debug, "磁盘内容未变，冲突保持");
            return;
        case A::clearIssues:
            client_.clearExternalIssue(issuesClearedByKnownContent());
            return;
        case A::acceptVersion:
        case A::acceptRecovered:
            model.acceptDiskVersion(*found);
            if (action == A::acceptRecovered) log(LogLevel::info, "源文件恢复为已知内容，清除提示");
            client_.clearExternalIssue(issuesClearedByKnownContent());
            return;
        case A::ask:
            if (model.isAccessDenied()) model.noteAccessDenied(false);
            client_.setExternalIssue(ExternalIssue::externalChanged(*found));
            log(LogLevel::info, "外部修改，按设置先提示：磁盘 %{public}s", found->description());
            return;
        case A::reload:
            reloadFromDisk("外部修改");
            return;
        case A::conflict:
            if (model.isAccessDenied()) model.noteAccessDenied(false);
            model.noteConflict(*found);
            client_.setExternalIssue(ExternalIssue::conflict(*found));
            log(LogLevel::info, "外部修改 + 本地修改 → conflict：磁盘 %{public}s",
                found->description());
            return;
    }
}

void DocumentDiskWatch::saveDidEnd() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!parked_) return;
    auto outcome = std::move(*parked_);
    parked_.reset();
    handleDiskOutcome(outcome);
}

void DocumentDiskWatch::fileDidMove(std::filesystem::path path) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    cancelGrace();
    lastLoss_ = FileLoss::none;
    if (path != path_) {
        client_.fileDidMove(path);
        log(LogLevel::info, "源文件已移动 / 重命名，跟踪到新位置：%{private}s",
            path.filename().string());
    }
    auto& model = client_.diskModel();
    if (model.isMissing()) {
        model.noteMissing(false);
        client_.clearExternalIssue(issuesClearedByMove());
    }
    path_ = std::move(path);
    startObserver();
    observer_->sampleAgain();
}

bool DocumentDiskWatch::reloadFromDisk(std::string reason) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (path_.empty()) return false;
    reloading_ = true;
    // The file the last verdict judged, or else the one the text was read
    // from: a reload reads that file or nothing.
    std::string expected = judgedIdentity_;
    if (expected.empty() && client_.diskModel().diskVersion())
        expected = client_.diskModel().diskVersion()->resourceIdentifier;
    reloadSlot_.spawn(reload(std::move(reason), std::move(expected)));
    return true;
}

Task<void> DocumentDiskWatch::reload(std::string reason, std::string expectedIdentity) {
    const std::int64_t revision = client_.diskModel().sourceRevision();
    auto read = [path = path_, sys = sys_] { return DocumentLoader::load(path, sys); };
    LoadedDocument loaded = co_await runOn(WorkerPool::shared(), std::move(read));
    reloading_ = false;

    auto& model = client_.diskModel();
    if (model.sourceRevision() != revision || model.isSaving()) {
        // What was read no longer answers the text: adopting it would throw
        // away an edit, or judge a file our save is writing.
        log(LogLevel::info, "重新载入（%{public}s）作废：读取期间文本已改动或开始保存",
            reason);
        if (observer_) observer_->sampleAgain();
        co_return;
    }
    if (!loaded.failure && !expectedIdentity.empty() && loaded.diskVersion &&
        loaded.diskVersion->resourceIdentifier != expectedIdentity) {
        // Another file took the path since it was judged: never shown
        // unchecked. Its verdict decides (a move followed, or a replacement).
        log(LogLevel::info, "重新载入（%{public}s）作废：路径上已是另一个文件", reason);
        if (observer_) observer_->sampleAgain();
        co_return;
    }
    if (loaded.failure) {
        const DocumentLoadFailure failure = *loaded.failure;
        log(LogLevel::error, "重新载入失败：%{private}s", failureText(failure));
        switch (failure.kind) {
            case DocumentLoadFailure::Kind::notFound:
            case DocumentLoadFailure::Kind::isDirectory:
                markMissing("重新载入时不存在");
                break;
            case DocumentLoadFailure::Kind::permissionDenied:
                model.noteAccessDenied(true);
                client_.setExternalIssue(ExternalIssue::unreadable(failure));
                break;
            case DocumentLoadFailure::Kind::readError:
                client_.setExternalIssue(ExternalIssue::unreadable(failure));
                break;
        }
        co_return;
    }
    const std::int64_t byteCount = loaded.byteCount;
    client_.adoptReload(std::move(loaded));
    ++reloadCount_;
    client_.clearExternalIssue(issuesClearedByReload());
    log(LogLevel::info, "重新载入（%{public}s）：%ld 字节 revision=%ld 第 %ld 次", reason,
        byteCount, client_.diskModel().sourceRevision(), reloadCount_);
}

Task<void> DocumentDiskWatch::waitOutGrace() {
    co_await sleepFor(clock_, missingGrace);
    gracePending_ = false;
    markMissing("重命名后未收到新路径");
}

void DocumentDiskWatch::markMissing(std::string_view reason) {
    auto& model = client_.diskModel();
    model.noteMissing(true);
    client_.setExternalIssue(ExternalIssue::missing());
    log(LogLevel::error, "源文件丢失（%{private}s）dirty=%{bool}d；缓冲区保留", reason,
        model.isDirty());
}

void DocumentDiskWatch::cancelGrace() {
    graceSlot_.cancel();
    gracePending_ = false;
}

bool DocumentDiskWatch::drainForTesting() {
    return !observer_ || observer_->drainForTesting();
}

}  // namespace larkspin
