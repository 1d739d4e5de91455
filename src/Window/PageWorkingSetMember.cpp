#include "Window/PageWorkingSetMember.hpp"

#include <utility>

#include "Document/Document.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

std::shared_ptr<PageWorkingSetMember> PageWorkingSetMember::create(
    std::shared_ptr<ReaderViewController> reader, std::shared_ptr<WebViewWorkingSet> workingSet,
    Page page) {
    auto made = std::shared_ptr<PageWorkingSetMember>(
        new PageWorkingSetMember(std::move(reader), std::move(workingSet), std::move(page)));
    if (made->workingSet_) {
        made->workingSet_->registerMember(made);
        made->registered_ = true;
    }
    return made;
}

PageWorkingSetMember::PageWorkingSetMember(std::shared_ptr<ReaderViewController> reader,
                                           std::shared_ptr<WebViewWorkingSet> workingSet, Page page)
    : reader_(reader),
      documentID_(reader ? reader->documentID() : std::string()),
      workingSet_(std::move(workingSet)),
      page_(std::move(page)) {}

PageWorkingSetMember::~PageWorkingSetMember() { ended(); }

void PageWorkingSetMember::shown() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (registered_) {
        workingSet_->activate(shared_from_this(), !isEditing());
        return;
    }
    if (!isEditing()) rebuildReader();
}

void PageWorkingSetMember::ended() {
    if (!std::exchange(registered_, false)) return;
    workingSet_->unregister(*this);
}

std::string PageWorkingSetMember::readerDocumentID() const { return documentID_; }

bool PageWorkingSetMember::readerHasWebView() const {
    const auto reader = reader_.lock();
    return reader && reader->hasWebView();
}

bool PageWorkingSetMember::isSelectedInWindow() const {
    return page_.isSelected && page_.isSelected();
}

bool PageWorkingSetMember::isEditing() const { return page_.isEditing && page_.isEditing(); }

std::string PageWorkingSetMember::logName() const {
    const auto document = page_.document.lock();
    return document ? document->displayName() : documentID_;
}

std::string PageWorkingSetMember::blockOf(const std::optional<ReadingAnchor>& anchor) {
    return anchor ? anchor->blockId : std::string("<nil>");
}

Task<bool> PageWorkingSetMember::releaseReader() { return release(weak_from_this()); }

Task<bool> PageWorkingSetMember::release(std::weak_ptr<PageWorkingSetMember> weak) {
    auto self = weak.lock();
    auto reader = self ? self->reader_.lock() : nullptr;
    if (!reader) co_return false;
    Task<bool> releasing = reader->releaseWebView();
    self.reset();
    reader.reset();
    const bool released = co_await std::move(releasing);
    self = weak.lock();
    reader = self ? self->reader_.lock() : nullptr;
    if (!released || !reader) co_return released;
    self->suspendedReadingAnchor_ = reader->readingAnchor();
    AppLog::document.info("标签退出热工作集：%{private}s anchor=%{public}s", self->logName(),
                          blockOf(self->suspendedReadingAnchor_));
    co_return true;
}

bool PageWorkingSetMember::rebuildReader() {
    const auto reader = reader_.lock();
    if (!reader) return false;
    const bool first = reader->isFirstWebViewDeferred();
    if (!reader->ensureWebView() || first) return false;
    AppLog::document.info("标签回到热工作集，重建 WKWebView：%{private}s restoreAnchor=%{public}s",
                          logName(), blockOf(suspendedReadingAnchor_));
    return true;
}

void PageWorkingSetMember::processRecovery(ProcessRecoveryAction action) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const auto reader = reader_.lock();
    const auto document = page_.document.lock();
    AppLog::document.error(
        "Web 内容进程终止处置：action=%{public}s count=%ld mode=%{public}s revision=%ld dirty=%{bool}d",
        rawValue(action), reader ? reader->processTerminationCount() : std::int64_t{0},
        isEditing() ? "editing" : "reading",
        document ? document->model().sourceRevision() : std::int64_t{-1},
        document && document->model().isDirty());
    if (!reader) return;
    if (action != ProcessRecoveryAction::retry) suspendedReadingAnchor_ = reader->readingAnchor();
    if (registered_) {
        workingSet_->handleProcessRecovery(shared_from_this(), action);
        return;
    }
    if (action != ProcessRecoveryAction::crashLoop && isSelectedInWindow() && !isEditing())
        rebuildReader();
}

}  // namespace larkspin
