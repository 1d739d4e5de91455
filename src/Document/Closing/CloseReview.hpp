#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Document/Saving/SaveDecision.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"

namespace larkspin {

// What the close and quit review needs of a document. Main thread.
class ClosingDocument {
public:
    virtual ~ClosingDocument() = default;

    virtual std::string displayName() const = 0;
    // The text differs from what was last saved.
    virtual bool isEdited() const = 0;
    // Writes the recovery draft now; resumes once it is on disk.
    virtual Task<void> flushDraft() = 0;
    // Saves the way the Save command does (the save pipeline; an untitled
    // document asks for a place first). Calls `done` once: nothing when
    // saved, else why not.
    virtual void save(std::function<void(std::optional<SaveError>)> done) = 0;
    // Selects the document's tab (and brings its window forward).
    virtual void showTab() = 0;
    // Tells the user, on the document's own page, why it stays open.
    virtual void showCloseFailure(std::string message) = 0;
    // Closes the document: its draft is resolved as closed.
    virtual void close() = 0;
};

enum class CloseAnswer { save, dontSave, cancel };

// Asks whether to save an edited document before it closes: "保存",
// "不保存", "取消". The desktop shows it modal on the document's window.
class CloseQuestion {
public:
    virtual ~CloseQuestion() = default;
    // Calls `answer` exactly once, later, on the main thread.
    virtual void ask(ClosingDocument& document, std::function<void(CloseAnswer)> answer) = 0;
};

// Closing a document, or quitting with several, without losing edited text:
// each document's draft is flushed first; an edited one is asked about with
// its tab selected; "save" closes it only when the save ends saved and the
// text is clean, otherwise it stays open and selected and a save that failed
// or met a conflict says "未能保存，文档未关闭". Main thread; owned by the
// shell, which keeps the documents alive while a review runs.
class CloseReview {
public:
    explicit CloseReview(CloseQuestion& question) : question_(question) {}
    CloseReview(const CloseReview&) = delete;
    CloseReview& operator=(const CloseReview&) = delete;

    // Reviews one document; `done(closed)`.
    void reviewClose(std::shared_ptr<ClosingDocument> document, std::function<void(bool)> done);

    // Reviews every document in order: those not edited only flush their
    // drafts, the edited ones are asked one after another. A cancel, or a
    // document that could not be saved, stops the quit there and closes
    // nothing; when every one is answered, all are closed and `done(true)`
    // tells the shell to quit.
    void reviewQuit(std::vector<std::shared_ptr<ClosingDocument>> documents, std::function<void(bool)> done);

    // True while a review runs (a second one is refused).
    bool isReviewing() const { return reviewing_; }

private:
    Task<bool> mayClose(std::shared_ptr<ClosingDocument> document);
    Task<void> runClose(std::shared_ptr<ClosingDocument> document, std::function<void(bool)> done);
    Task<void> runQuit(std::vector<std::shared_ptr<ClosingDocument>> documents, std::function<void(bool)> done);

    CloseQuestion& question_;
    bool reviewing_ = false;
    TaskScope tasks_;  // last
};

}  // namespace larkspin
