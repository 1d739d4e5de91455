#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Reader/ReaderViewController.hpp"
#include "Reader/WebViewWorkingSet.hpp"

namespace larkspin {

class Document;

// A tab page's reader as the working set sees it, and when the reader gets
// its web view. A page is made without one (`firstWebView`); it gets it
// when it is first shown (selected in its window), so that a window laid out
// with many tabs loads and renders only the tab it shows, and a tab never
// shown costs no web content process. Every showing activates the page in
// the working set, which builds the web view when it has none (the same
// path as a tab whose web view was given up) and asks the least recently
// shown hidden tabs to give theirs up when more are live than its limit
// allows. A page on screen (selected in its window, in reading mode) counts
// as the one being read: the working set never takes its web view.
// Without a working set a showing builds the web view directly.
//
// It is also where the reader's crash recovery goes (its page, the reader's
// owner, hands it over): after a web content process end (or the retry of
// the crash-loop page) the working set decides
// whether the reader rebuilds now (the page on screen in reading mode) or
// when it is next shown.
//
// No GTK: the page answers whether it is selected and whether it shows the
// editor. Owned by a shared_ptr (the working set holds it weakly). Main
// thread.
class PageWorkingSetMember final : public WebViewWorkingSetMember,
                                   public std::enable_shared_from_this<PageWorkingSetMember> {
public:
    struct Page {
        std::function<bool()> isSelected;  // selected in its window
        std::function<bool()> isEditing;   // shows the editor
        // The page's document, for the log lines (none: the reader's
        // document identifier, revision -1).
        std::weak_ptr<const Document> document;
    };

    // How a page's reader loads its view: its first web view waits for the
    // first showing.
    static constexpr ReaderViewController::FirstWebView firstWebView =
        ReaderViewController::FirstWebView::whenShown;

    // Registers the page (cold, since it has no web view yet) when there is a
    // working set.
    static std::shared_ptr<PageWorkingSetMember> create(
        std::shared_ptr<ReaderViewController> reader,
        std::shared_ptr<WebViewWorkingSet> workingSet, Page page);
    ~PageWorkingSetMember() override;
    PageWorkingSetMember(const PageWorkingSetMember&) = delete;
    PageWorkingSetMember& operator=(const PageWorkingSetMember&) = delete;

    // The page is shown (selected in its window): its reader gets a web view
    // when it has none, and the working set counts it most recent.
    void shown();
    // The page ends: it leaves the working set.
    void ended();
    // The reader's web content process ended, or the user pressed retry on
    // its crash-loop page: logged, and the working set decides the rebuild
    // (without one, the page on screen in reading mode rebuilds at once).
    void processRecovery(ProcessRecoveryAction action);

    // ---- WebViewWorkingSetMember ----
    std::string readerDocumentID() const override;
    bool readerHasWebView() const override;
    bool isSelectedInWindow() const override;
    bool isEditing() const override;
    Task<bool> releaseReader() override;
    // True only for a web view built again: a page's first one is no rebuild.
    bool rebuildReader() override;

private:
    PageWorkingSetMember(std::shared_ptr<ReaderViewController> reader,
                         std::shared_ptr<WebViewWorkingSet> workingSet, Page page);
    // The document's name in log lines: its display name, or the reader's
    // document identifier without a document.
    std::string logName() const;
    static std::string blockOf(const std::optional<ReadingAnchor>& anchor);
    static Task<bool> release(std::weak_ptr<PageWorkingSetMember> weak);

    std::weak_ptr<ReaderViewController> reader_;
    const std::string documentID_;
    std::shared_ptr<WebViewWorkingSet> workingSet_;
    Page page_;
    bool registered_ = false;
    // The reader's anchor when its web view was last given up or lost.
    std::optional<ReadingAnchor> suspendedReadingAnchor_;
};

}  // namespace larkspin
