#include "Window/PageWebView.hpp"

#include <utility>

#include "Document/Document.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

std::shared_ptr<PageWebView> PageWebView::create(std::shared_ptr<ReaderViewController> reader,
                                                 std::shared_ptr<WebViewWorkingSet> workingSet,
                                                 Page page) {
    auto made = std::shared_ptr<PageWebView>(
        new PageWebView(std::move(reader), std::move(workingSet), std::move(page)));
    if (made->workingSet_) {
        made->workingSet_->registerMember(made);
        made->registered_ = true;
    }
    return made;
}

PageWebView::PageWebView(std::shared_ptr<ReaderViewController> reader,
                         std::shared_ptr<WebViewWorkingSet> workingSet, Page page)
    : reader_(reader),
      documentID_(reader ? reader->documentID() : std::string()),
      workingSet_(std::move(workingSet)),
      page_(std::move(page)) {}

PageWebView::~PageWebView() { ended(); }

void PageWebView::shown() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (registered_) {
        workingSet_->activate(shared_from_this(), !isEditing());
        return;
    }
    if (!isEditing()) rebuildReader();
}

void PageWebView::ended() {
    if (!std::exchange(registered_, false)) return;
    workingSet_->unregister(*this);
}

std::string PageWebView::readerDocumentID() const { return documentID_; }

bool PageWebView::readerHasWebView() const {
    const auto reader = reader_.lock();
    return reader && reader->hasWebView();
}

bool PageWebView::isWindowKey() const { return page_.isSelected && page_.isSelected(); }

bool PageWebView::isEditing() const { return page_.isEditing && page_.isEditing(); }

std::string PageWebView::logName() const {
    const auto document = page_.document.lock();
    return document ? document->displayName() : documentID_;
}

std::string PageWebView::blockOf(const std::optional<ReadingAnchor>& anchor) {
    return anchor ? anchor->blockId : std::string("<nil>");
}

Task<bool> PageWebView::releaseReader() { return release(weak_from_this()); }

Task<bool> PageWebView::release(std::weak_ptr<PageWebView> weak) {
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

bool PageWebView::rebuildReader() {
    const auto reader = reader_.lock();
    if (!reader) return false;
    const bool first = reader->isFirstWebViewDeferred();
    if (!reader->ensureWebView() || first) return false;
    AppLog::document.info("标签回到热工作集，重建 WKWebView：%{private}s restoreAnchor=%{public}s",
                          logName(), blockOf(suspendedReadingAnchor_));
    return true;
}

void PageWebView::processRecovery(ProcessRecoveryAction action) {
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
    if (action != ProcessRecoveryAction::crashLoop && isWindowKey() && !isEditing()) rebuildReader();
}

}  // namespace larkspin
