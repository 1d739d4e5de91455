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

// The missing reason of a file that left its name and was never found.
constexpr std::string_view renamedAway = "重命名后未收到新路径";

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

void DocumentDiskWatch::moveTo(DiskWatchState next) {
    if (next == state_) return;
    if (!isAllowedMove(state_, next)) {
        log(LogLevel::fault, "磁盘监视状态不允许从 %{public}s 到 %{public}s", rawValue(state_),
            rawValue(next));
        return;
    }
    // A newer verdict overrides a reload under way; a new reload replaces it.
    if (state_ == DiskWatchState::reloading && next != DiskWatchState::parked) reloadSlot_.cancel();
    if (state_ == DiskWatchState::missing) missingLookSlot_.cancel();
    state_ = next;
}

void DocumentDiskWatch::start(std::filesystem::path path) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    stop();
    path_ = std::move(path);
    startObserver();
}

void DocumentDiskWatch::startObserver() {
    moveTo(DiskWatchState::watching);
    lastLoss_ = FileLoss::none;
    parked_.reset();
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
    moveTo(DiskWatchState::stopped);
    reloadSlot_.cancel();
    watchRetrySlot_.cancel();
    missingLookSlot_.cancel();
    movedSlot_.cancel();
    movedFile_.reset();
    unwatchedOutcome_.reset();
    lastLoss_ = FileLoss::none;
    parked_.reset();
    judgedIdentity_.clear();
}

void DocumentDiskWatch::sampleAgain() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!observer_) return;
    // After a verdict that found no readable file, the watch itself may be
    // what is missing: started again first.
    const bool unreadable = state_ == DiskWatchState::unreadable ||
                            state_ == DiskWatchState::missing || state_ == DiskWatchState::grace ||
                            observer_->couldNotWatch();
    if (unreadable) startObserver();
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
    // The tracker's verdict on a file that left its name: it has no name to
    // follow. The grace period was the tracker's.
    if (event.kind == Kind::presenterDeletion && state_ == DiskWatchState::grace) {
        moveTo(DiskWatchState::missing);
        markMissing(renamedAway);
        return;
    }
    // The tracker reports a move only once it is settled: followed as it is.
    // Its file is kept at hand until the watch stands on the new path: a
    // file that moved on meanwhile is found by it (see handleDiskOutcome).
    if (event.kind == Kind::presenterDidMove && !event.url.empty()) {
        auto held = observer_ ? observer_->heldFile() : nullptr;
        fileDidMove(event.url);
        movedFile_ = std::move(held);
    }
}

void DocumentDiskWatch::handleDiskOutcome(const ContentStabilizer::Outcome& outcome) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const bool unwatched = observer_ && observer_->couldNotWatch();
    if (movedFile_ && unwatched) {
        // The watch made after a move found nothing there: the file moved
        // on before it stood. Where the tracker's file is now decides.
        movedSlot_.spawn(findMovedFile(std::move(movedFile_), outcome));
        return;
    }
    if (!unwatched) movedFile_.reset();
    // A file that could not be watched is tried again until it can be: left
    // unwatched, a chmod or a file put back would never be seen.
    if (unwatched) {
        watchRetrySlot_.spawn(retryWatch());
    } else {
        watchRetrySlot_.cancel();
    }
    const bool wasMissing = state_ == DiskWatchState::missing;
    judge(outcome);
    // Back while nothing held it (its folder went and came back): watched
    // anew from here on.
    if (wasMissing && state_ != DiskWatchState::missing && outcome.stableVersion() && observer_ &&
        !observer_->heldFile()) {
        makeObserver();
        observer_->sampleAgain();
    }
}

void DocumentDiskWatch::judge(const ContentStabilizer::Outcome& outcome) {
    // A watch tried again that ends as before says nothing again.
    const bool unwatched = observer_ && observer_->couldNotWatch();
    if (unwatchedOutcome_ && *unwatchedOutcome_ == outcome) return;
    unwatchedOutcome_.reset();
    if (unwatched) unwatchedOutcome_ = outcome;
    if (outcome.stableVersion() && !client_.diskModel().isSaving()) {
        // Against the file last judged, or else the one the text was read
        // from: another one is a replacement.
        std::string before = judgedIdentity_;
        if (before.empty() && client_.diskModel().diskVersion())
            before = client_.diskModel().diskVersion()->resourceIdentifier;
        judgedIdentity_ = identityOf(outcome);
        if (!before.empty() && before != judgedIdentity_) client_.fileReplaced();
    }
    const auto situation = describeSituation(client_.diskModel(), outcome,
                                             client_.externalChangePolicy(), lastLoss_,
                                             state_ == DiskWatchState::grace);
    apply(decideDiskChange(situation), outcome);
}

void DocumentDiskWatch::apply(DiskChangeAction action, const ContentStabilizer::Outcome& outcome) {
    using A = DiskChangeAction;
    // A missing file gets no grace period: it stays missing.
    if (action == A::startGrace && state_ == DiskWatchState::missing) action = A::missingNow;
    // A verdict set aside changes nothing until the save's end replays it.
    if (action == A::park) {
        parked_ = outcome;
        moveTo(DiskWatchState::parked);
        return;
    }
    // The save is over: this verdict is newer than the one set aside.
    if (state_ == DiskWatchState::parked) {
        parked_.reset();
        moveTo(DiskWatchState::watching);
    }
    auto& model = client_.diskModel();
    const DiskVersion* found = outcome.stableVersion();
    const auto* reason = outcome.unreadableReason();
    if (found) lastLoss_ = FileLoss::none;
    moveTo(stateAfter(action));
    switch (action) {
        case A::park:
        case A::awaitGrace:
            return;
        case A::permission:
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
            // The tracker times the rename: it reports the file's new path
            // once its name stayed empty for its grace period, or that the
            // file has no name left. One that holds no file any more has
            // said so already.
            if (!observer_ || !observer_->heldFile()) {
                moveTo(DiskWatchState::missing);
                markMissing(renamedAway);
            }
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
    if (state_ != DiskWatchState::parked) return;
    moveTo(DiskWatchState::watching);
    if (!parked_) return;
    auto outcome = std::move(*parked_);
    parked_.reset();
    handleDiskOutcome(outcome);
}

Task<void> DocumentDiskWatch::findMovedFile(InodeWatch::File file,
                                             ContentStabilizer::Outcome outcome) {
    auto look = [file, sys = sys_] {
        struct stat status {};
        if (sys.fstat(file->get(), &status) != 0 || status.st_nlink == 0)
            return std::filesystem::path();
        return currentPathOf(file->get());
    };
    const std::filesystem::path there = co_await runOn(WorkerPool::shared(), std::move(look));
    if (!there.empty() && there != path_) {
        log(LogLevel::info, "源文件在观察建立前又移动了，跟踪到：%{private}s",
            there.filename().string());
        fileDidMove(there);
        movedFile_ = std::move(file);
        co_return;
    }
    handleDiskOutcome(outcome);
}

void DocumentDiskWatch::fileDidMove(std::filesystem::path path) {
    LARKSPIN_ASSERT_MAIN_THREAD();
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
    if (path_.empty() || !isAllowedMove(state_, DiskWatchState::reloading)) return false;
    moveTo(DiskWatchState::reloading);
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
    // Its own state ends here: whatever it finds decides the next (unless a
    // save's verdict was set aside meanwhile, which decides at the save's end).
    // (Set directly: moveTo would cancel this very task.)
    const bool current = state_ == DiskWatchState::reloading;
    if (current) state_ = DiskWatchState::watching;

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
        // unchecked. Its own verdict decides.
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
                if (current) moveTo(DiskWatchState::missing);
                markMissing("重新载入时不存在");
                break;
            case DocumentLoadFailure::Kind::permissionDenied:
                if (current) moveTo(DiskWatchState::unreadable);
                model.noteAccessDenied(true);
                client_.setExternalIssue(ExternalIssue::unreadable(failure));
                break;
            case DocumentLoadFailure::Kind::readError:
                if (current) moveTo(DiskWatchState::unreadable);
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

Task<void> DocumentDiskWatch::lookWhileMissing() {
    // The tracker hears a file come back to its folder; a folder that went
    // itself is heard of no more, so the path is also read now and then.
    for (;;) {
        co_await sleepFor(clock_, watchRetryDelay);
        if (observer_) observer_->lookAgain();
    }
}

void DocumentDiskWatch::markMissing(std::string_view reason) {
    if (state_ == DiskWatchState::missing) missingLookSlot_.spawn(lookWhileMissing());
    auto& model = client_.diskModel();
    model.noteMissing(true);
    client_.setExternalIssue(ExternalIssue::missing());
    log(LogLevel::error, "源文件丢失（%{private}s）dirty=%{bool}d；缓冲区保留", reason,
        model.isDirty());
}

bool DocumentDiskWatch::drainForTesting() {
    return !observer_ || observer_->drainForTesting();
}

}  // namespace larkspin
