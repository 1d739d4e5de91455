#pragma once

#include "Document/ExternalIssue.hpp"
#include "Document/NoticeContent.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"

namespace larkspin {

class Document;
class DocumentKeeper;

// What the buttons of a document's notice bar do, and the bar's content for
// an issue with its buttons bound to them: reload (asking before unsaved text
// goes), keep mine, take the disk's change, look at the file again, find a
// moved file, retry a failed save, save elsewhere, dismiss a recovery. The
// document keeps the issue, the text and the file; these act on them through
// it and its keeper. Owned by its document; its questions end with it or
// when it closes. Main thread.
class DocumentNoticeActions {
public:
    DocumentNoticeActions(Document& document, DocumentKeeper& keeper);
    DocumentNoticeActions(const DocumentNoticeActions&) = delete;
    DocumentNoticeActions& operator=(const DocumentNoticeActions&) = delete;

    // The bar's content for `issue`; its buttons hold the document weakly.
    NoticeBarContent barContent(const ExternalIssue& issue);

    void acceptExternalChange();
    // Asks before throwing unsaved text away, then reloads.
    void resolveConflictByReloading();
    void resolveConflictKeepingMine();
    void saveElsewhere();
    void sampleAgain();
    void retrySave();
    void dismissRecovered();
    // Asks for the file's new place; a file open in another tab comes
    // forward there instead.
    void relocateSourceFile();

    // Ends the questions being asked (the document closes).
    void cancel() { tasks_.cancel(); }

private:
    Task<void> reloadDiscardingTask();
    Task<void> relocateTask();

    Document& document_;
    DocumentKeeper& keeper_;
    TaskScope tasks_;  // last: the questions end first
};

}  // namespace larkspin
