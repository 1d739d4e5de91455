#include "Window/PageWebView.hpp"

#include <utility>

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

namespace {

Task<bool> nothingReleased() { co_return false; }

}  // namespace

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

Task<bool> PageWebView::releaseReader() {
    if (const auto reader = reader_.lock()) return reader->releaseWebView();
    return nothingReleased();
}

bool PageWebView::rebuildReader() {
    const auto reader = reader_.lock();
    if (!reader) return false;
    const bool first = reader->isFirstWebViewDeferred();
    return reader->ensureWebView() && !first;
}

}  // namespace larkspin
