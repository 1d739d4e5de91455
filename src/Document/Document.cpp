#include "Document/Document.hpp"

#include <atomic>
#include <exception>
#include <stdexcept>

#include "Document/DocumentNoticeActions.hpp"
#include "Document/DocumentRegistry.hpp"
#include "Document/DocumentRendering.hpp"
#include "Document/DocumentUnits.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/FileNameText.hpp"
#include "Platform/Text/Sha256.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Storage/DocumentLoader.hpp"
#include "Storage/FileStore.hpp"

namespace larkspin {

namespace {

std::atomic<std::int64_t> nextUntitledLogSequence{0};

std::string untitledLogID() {
    return "untitled-" + std::to_string(++nextUntitledLogSequence);
}

}  // namespace

std::shared_ptr<Document> Document::create(Services services, std::shared_ptr<DocumentKeeper> keeper,
                                           std::optional<std::filesystem::path> file) {
    if (!keeper) throw std::invalid_argument("document: a keeper is required");
    if (!services.draftWriter) throw std::invalid_argument("document: a draft writer is required");
    return std::shared_ptr<Document>(new Document(std::move(services), std::move(keeper), std::move(file)));
}

Document::Document(Services services, std::shared_ptr<DocumentKeeper> keeper,
                   std::optional<std::filesystem::path> file)
    : services_(std::move(services)),
      keeper_(std::move(keeper)),
      path_(file ? std::optional(standardizedPath(*file)) : std::nullopt),
      documentID_(makeUUID()) {
    std::optional<std::filesystem::path> draftDirectory;
    if (services_.recoveryStore) draftDirectory = services_.recoveryStore->directory();
    units_ = std::make_unique<DocumentUnits>(*this, services_.clock ? *services_.clock : Clock::system(),
                                             services_.sys, services_.draftWriter, std::move(draftDirectory));
    rendering_ = std::make_unique<DocumentRendering>(*this, services_.sandboxed);
    notices_ = std::make_unique<DocumentNoticeActions>(*this, *keeper_);
    model_.onChange = [this](DocumentModel&) {
        if (DraftScheduler* drafts = units_->drafts()) drafts->scheduleIfNeeded();
        if (host_) host_->documentTitleChanged();
        keeper_->documentStateChanged(*this);
    };
}

Document::~Document() {
    model_.onChange = nullptr;
    if (reader_) reader_->setOwner({});
    units_->disk().stop();
}

std::string Document::displayName() const {
    // Shown in titles, tabs, dialogs and notices: always UTF-8.
    if (path_ && path_->has_filename()) return FileNameText::baseName(*path_);
    return L10n::text("document.untitled");
}

const std::string& Document::logID() const {
    if (!logID_) {
        if (path_)
            logID_ = sha256Hex(path_->string()).substr(0, 8);
        else
            logID_ = untitledLogID();
    }
    return *logID_;
}

// ---- reading ----

Task<void> Document::read(std::shared_ptr<Document> document) {
    const std::optional<std::filesystem::path> path = document->path_;
    if (!path) co_return;
    auto load = [file = *path] { return DocumentLoader::load(file); };
    LoadedDocument loaded = co_await runOn(WorkerPool::shared(), std::move(load));
    document->takeLoad(std::move(loaded));
}

void Document::takeLoad(LoadedDocument loaded) {
    {
        std::lock_guard lock(loadMutex_);
        loadedSource_ = std::move(loaded);
    }
    if (MainThread::isMainThread()) {
        adoptLoadedIfNeeded();
        return;
    }
    std::weak_ptr<Document> weak = weak_from_this();
    MainThread::post([weak] {
        if (auto document = weak.lock()) document->adoptLoadedIfNeeded();
    });
}

bool Document::adoptLoadedIfNeeded() {
    std::optional<LoadedDocument> taken;
    {
        std::lock_guard lock(loadMutex_);
        taken.swap(loadedSource_);
    }
    if (!taken) return false;
    loaded_ = std::move(*taken);
    // The text moves into the model: held once, not here as well.
    model_.adopt(std::move(loaded_));
    loaded_.source.clear();
    AppLog::document.info(
        "文档 doc=%{public}s %{private}s 进模型：%ld 字节 encoding=%{public}s lineEnding=%{public}s "
        "revision=%ld writable=%{bool}d",
        logID(), displayName(), loaded_.byteCount, rawValue(loaded_.encoding),
        rawValue(loaded_.lineEnding), model_.sourceRevision(), model_.isWritable());
    if (!loaded_.failure) startObservingFile();
    return true;
}

// ---- the page ----

void Document::attachWindow(DocumentWindowHost& host) {
    adoptLoadedIfNeeded();
    if (host_ && host_ != &host) detachWindow(*host_);
    host_ = &host;
    reader_ = host.reader();
    // An issue raised before the page existed shows now.
    presentExternalIssue();
    if (!reader_) return;
    reader_->setOwner(std::weak_ptr<DocumentReader::Owner>(shared_from_this()));
    reader_->setDocumentLocation(path_);
    rendering_->startRendering();
}

void Document::detachWindow(DocumentWindowHost& host) {
    if (host_ != &host) return;
    if (reader_) reader_->setOwner({});
    reader_.reset();
    host_ = nullptr;
}

void Document::readerOpensLink(const OpenLinkPayload& payload) {
    keeper_->openLink(*this, payload);
}

void Document::readerWasDeniedResource(const std::string& path) {
    rendering_->showAccessDeniedBanner(path);
}

void Document::readerDidRender(const RenderOutcome& outcome) {
    ++renderCount_;
    AppLog::document.info("文档 doc=%{public}s %{private}s 渲染完成：%ld 个标题", logID(),
                          displayName(), static_cast<std::int64_t>(outcome.headingCount));
    rendering_->syncDegradationBanner(outcome.degradation);
    if (pendingFragment_ && reader_) {
        // This render is the page that shows it.
        std::string fragment = std::move(*pendingFragment_);
        pendingFragment_.reset();
        tasks_.spawn(scrollTask(std::move(fragment)));
    }
}

// ---- OpenedDocument ----

void Document::makeWindowControllers() {
    adoptLoadedIfNeeded();
    if (host_) return;
    keeper_->makeWindow(*this);
}

void Document::showWindows() {
    if (!host_) return;
    const DocumentWindowHost::Presented shown = host_->present();
    AppLog::document.info("文档 doc=%{public}s %{private}s 窗口已显示，显式并入标签组=%{bool}d，所在标签组含 %ld 个标签",
                          logID(), displayName(), shown.joinedGroup, static_cast<long>(shown.tabCount));
}

void Document::applyRecoveryDraft(const RecoveryDraft& draft, std::optional<DraftSetAside> setAside) {
    adoptLoadedIfNeeded();
    // A draft whose file is gone is saved where that file was, by default.
    if (!path_ && setAside == DraftSetAside::sourceGone && draft.fileIdentity &&
        draft.fileIdentity->path.starts_with('/')) {
        const std::filesystem::path source(draft.fileIdentity->path);
        if (source.has_filename()) draftSource_ = source.lexically_normal();
    }
    if (DraftScheduler* drafts = units_->drafts()) {
        std::optional<ExternalIssue> notice = drafts->applyDraft(draft, setAside);
        if (!notice) return;
        setExternalIssue(std::move(*notice));
        rendering_->startRendering();
        return;
    }
    // The draft stays unresolved in its store and is offered again.
    AppLog::recovery.error("文档 doc=%{public}s %{private}s 草稿 %{public}s 无人套用，留待下次", logID(),
                           displayName(), draft.draftID);
}

void Document::setRecoveryStore(std::shared_ptr<RecoveryStore> store) {
    services_.recoveryStore = std::move(store);
    units_->setDraftDirectory(services_.recoveryStore
                                  ? std::optional(services_.recoveryStore->directory())
                                  : std::nullopt);
}

std::optional<DraftSetAside> Document::recoveryDraftRefusal(const RecoveryDraft& draft) const {
    if (isReadOnly() || !model_.isWritable()) return DraftSetAside::sourceReadOnly;
    if (!canTakeDraft(model_, draft)) return DraftSetAside::sourceChanged;
    return std::nullopt;
}

bool Document::isReadOnly() const {
    return loaded_.failure.has_value() || !model_.isWritable();
}

std::shared_ptr<LinkReader> Document::linkReader() const {
    return reader_;
}

// ---- rendering ----

void Document::scrollToFragment(std::string fragment) {
    // Only a page that shows a render can scroll to one of its headings: a
    // web view given back or rebuilt (a hidden tab's), or a page still
    // loading, has none, and the fragment waits for its render.
    if (reader_ && reader_->showsRenderedPage()) {
        tasks_.spawn(scrollTask(std::move(fragment)));
        return;
    }
    pendingFragment_ = std::move(fragment);
}

Task<void> Document::scrollTask(std::string fragment) {
    std::shared_ptr<DocumentReader> reader = reader_;
    try {
        const ScrolledPayload scrolled = co_await reader->scrollToHeading(fragment);
        AppLog::actions.info("文档 doc=%{public}s %{private}s 片段定位 %{private}s：found=%{bool}d",
                             logID(), displayName(), fragment, scrolled.found);
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        AppLog::actions.error("文档 doc=%{public}s 片段定位失败：%{private}s", logID(),
                              std::string(error.what()));
    }
}

// ---- external issues ----

void Document::setExternalIssue(ExternalIssue issue) {
    externalIssue_ = std::move(issue);
    presentExternalIssue();
}

void Document::clearExternalIssue(const ExternalIssueKinds& kinds) {
    if (!externalIssue_ || !clears(kinds, externalIssue_->kind())) return;
    externalIssue_.reset();
    if (host_ && host_->noticeBarController()) host_->noticeBarController()->hide();
}

void Document::presentExternalIssue() {
    if (!externalIssue_ || !host_ || !host_->noticeBarController()) return;
    host_->noticeBarController()->show(notices_->barContent(*externalIssue_));
}

void Document::adoptRelocatedSource(std::filesystem::path path) {
    path_ = standardizedPath(path);
    if (reader_) reader_->setDocumentLocation(path_);
    model_.noteMissing(false);
    model_.noteAccessDenied(false);
    clearExternalIssue({ExternalIssueKind::missing, ExternalIssueKind::unreadable,
                        ExternalIssueKind::permission});
    AppLog::document.info("文档 doc=%{public}s %{private}s 用户重新定位源文件：%{private}s", logID(),
                          displayName(), path.filename().string());
    keeper_->documentFileChanged(*this);
    keeper_->documentStateChanged(*this);
    if (host_) host_->documentTitleChanged();
    startObservingFile();
    if (isObservingFile()) units_->disk().sampleAgain();
}

// ---- the file watch ----

void Document::startObservingFile() {
    units_->disk().stop();
    waitingToObserve_ = false;
    if (!path_ || !services_.observesFile || isClosing_) return;
    if (!keeper_->mayWatchFile(*this)) {
        waitingToObserve_ = true;
        AppLog::document.debug("文档 doc=%{public}s %{private}s 暂不观察源文件：打开的文件已到上限，显示时再观察",
                              logID(), displayName());
        return;
    }
    // The watch's observer has its own tracker, which follows moves: on Linux
    // the document is no file presenter of its own. A watch that cannot
    // start reports an unreadable verdict.
    units_->disk().start(*path_);
    AppLog::document.info("文档 doc=%{public}s %{private}s 开始观察源文件（inotify + 跟踪器）基准=%{public}s",
                          logID(), displayName(),
                          model_.diskVersion() ? model_.diskVersion()->description() : std::string("nil"));
}

bool Document::isObservingFile() const {
    return units_->disk().isWatching();
}

void Document::pauseObservingFile() {
    if (!isObservingFile()) return;
    units_->disk().stop();
    waitingToObserve_ = true;
    AppLog::document.info("文档 doc=%{public}s %{private}s 暂停观察源文件：让给正在显示的文档", logID(),
                          displayName());
}

void Document::resumeObservingFile() {
    if (!waitingToObserve_) return;
    startObservingFile();
    if (isObservingFile()) units_->disk().sampleAgain();
}

ExternalChangePolicy Document::externalChangePolicy() const {
    return services_.externalChangePolicy ? services_.externalChangePolicy() : ExternalChangePolicy::reload;
}

void Document::observationFailed(const ContentStabilizer::UnreadableReason& reason) {
    AppLog::document.error("文档 doc=%{public}s %{private}s 打开观察描述符失败：%{private}s", logID(),
                           displayName(), reason.description());
    setExternalIssue(ExternalIssue::unreadable(reason.failure));
}

// ---- the file commands ----

bool Document::canSave() const {
    return !isClosing_ && !isReadOnly();
}

void Document::save(SaveCompletion done) {
    if (!path_) {
        saveAs(std::move(done));
        return;
    }
    std::weak_ptr<Document> weak = weak_from_this();
    const bool command = !done;
    units_->saving().save(*path_, SaveOperation::save,
                          [weak, command, done = std::move(done)](std::optional<SaveError> error) {
                              auto document = weak.lock();
                              if (document && command) document->reportSaveError(error);
                              if (done) done(std::move(error));
                          });
}

bool Document::canSaveAs() const {
    return !isClosing_ && !loaded_.failure.has_value() && model_.isWritable();
}

void Document::saveAs(SaveCompletion done) {
    tasks_.spawn(saveAsTask(std::move(done)));
}

Task<void> Document::saveAsTask(SaveCompletion done) {
    std::optional<std::filesystem::path> chosen;
    if (host_) {
        DocumentWindowHost::SaveRequest request;
        request.name = displayName();
        if (path_) {
            request.folder = path_->parent_path();
        } else if (draftSource_) {
            request.name = FileNameText::baseName(*draftSource_);
            request.folder = draftSource_->parent_path();
        } else {
            // An untitled document is proposed as a Markdown file.
            request.name += ".md";
        }
        Task<std::optional<std::filesystem::path>> choosing = host_->chooseSaveLocation(std::move(request));
        try {
            chosen = co_await std::move(choosing);
        } catch (...) {
            rethrowIfCancelled(std::current_exception());
        }
    }
    if (!chosen) {
        AppLog::document.info("文档 doc=%{public}s %{private}s 另存为已取消", logID(), displayName());
        if (done) done(SaveError::notWritable(L10n::text("close.not_saved")));
        co_return;
    }
    std::weak_ptr<Document> weak = weak_from_this();
    const bool command = !done;
    auto finished = [weak, command, done = std::move(done)](std::optional<SaveError> error) {
        auto document = weak.lock();
        if (document && command) document->reportSaveError(error);
        if (done) done(std::move(error));
    };
    units_->saving().save(*chosen, SaveOperation::saveAs, std::move(finished));
}

void Document::reportSaveError(const std::optional<SaveError>& error) {
    if (!error) return;
    AppLog::document.error("文档 doc=%{public}s %{private}s 保存未完成：%{private}s", logID(), displayName(),
                           error->description());
    if (host_) host_->showSaveError(error->description());
}

bool Document::canRevert() const {
    return !isClosing_ && path_.has_value() && isEdited() && isObservingFile();
}

void Document::revert() {
    // Asks before the unsaved text goes, then reads the file again.
    if (canRevert()) notices_->resolveConflictByReloading();
}

Task<void> Document::flushDraft() {
    DraftScheduler* drafts = units_->drafts();
    if (!drafts) co_return;
    // Holds the document while the flush runs.
    std::shared_ptr<Document> self = shared_from_this();
    co_await drafts->flush();
}

void Document::flushDraftAndWait() {
    if (DraftScheduler* drafts = units_->drafts()) drafts->flushAndWait();
}

void Document::reloadFromDisk(std::string reason) {
    if (!units_->disk().reloadFromDisk(reason))
        AppLog::document.error("文档 doc=%{public}s %{private}s 未观察源文件，不能重新载入（%{public}s）",
                               logID(), displayName(), reason);
}

void Document::adoptReload(LoadedDocument loaded) {
    loaded_ = std::move(loaded);
    model_.adopt(std::move(loaded_));
    loaded_.source.clear();
    if (DraftScheduler* drafts = units_->drafts()) drafts->resolve(RecoveryDraft::Resolution::reloaded);
    AppLog::document.info("文档 doc=%{public}s %{private}s 重新载入：%ld 字节 revision=%ld", logID(),
                          displayName(), loaded_.byteCount, model_.sourceRevision());
    // The reader keeps its reading position across a render of its document.
    rendering_->startRendering();
    keeper_->documentStateChanged(*this);
}

void Document::takeLocation(const std::filesystem::path& path) {
    path_ = standardizedPath(path);
    if (reader_) reader_->setDocumentLocation(path_);
    keeper_->documentFileChanged(*this);
    keeper_->documentStateChanged(*this);
    if (host_) host_->documentTitleChanged();
}

void Document::followMove(const std::filesystem::path& path) {
    AppLog::document.info("文档 doc=%{public}s %{private}s 源文件已移动：%{private}s", logID(), displayName(),
                          path.filename().string());
    takeLocation(path);
}

void Document::fileReplaced() {
    keeper_->documentFileChanged(*this);
}

void Document::didSave(const std::filesystem::path& target, SaveOperation operation) {
    if (operation == SaveOperation::saveAs && standardizedPath(target) != path_) {
        takeLocation(target);
        startObservingFile();
    } else if (operation == SaveOperation::saveAs && !isObservingFile()) {
        startObservingFile();
    }
    keeper_->documentStateChanged(*this);
    if (host_) host_->documentTitleChanged();
}

void Document::showCloseFailure(std::string message) {
    rendering_->showCloseFailure(std::move(message));
}

// ---- closing ----

void Document::close() {
    if (isClosing_) return;
    AppLog::document.info("文档 doc=%{public}s %{private}s 关闭，isDocumentEdited=%{bool}d", logID(),
                          displayName(), isEdited());
    isClosing_ = true;
    if (DraftScheduler* drafts = units_->drafts()) {
        drafts->beginClosing();
        // At termination documents are not closed by the user: their drafts
        // stay for the next launch.
        if (!MainThread::isQuitting()) drafts->resolve(RecoveryDraft::Resolution::closed);
    }
    units_->disk().stop();
    notices_->cancel();
    tasks_.cancel();
    std::shared_ptr<Document> self = shared_from_this();
    keeper_->documentClosed(*this);
}

}  // namespace larkspin
