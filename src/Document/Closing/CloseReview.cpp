#include "Document/Closing/CloseReview.hpp"

#include <exception>
#include <utility>

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {

struct Ask {
    CloseQuestion* question;
    std::shared_ptr<ClosingDocument> document;
    void operator()(Completion<CloseAnswer> done) {
        auto shared = std::make_shared<Completion<CloseAnswer>>(std::move(done));
        question->ask(*document, [shared](CloseAnswer answer) { shared->resolve(answer); });
    }
};

struct Save {
    std::shared_ptr<ClosingDocument> document;
    void operator()(Completion<std::optional<SaveError>> done) {
        auto shared = std::make_shared<Completion<std::optional<SaveError>>>(std::move(done));
        document->save([shared](std::optional<SaveError> error) { shared->resolve(std::move(error)); });
    }
};

}  // namespace

void CloseReview::reviewClose(std::shared_ptr<ClosingDocument> document, std::function<void(bool)> done) {
    if (reviewing_) {
        if (done) done(false);
        return;
    }
    reviewing_ = true;
    tasks_.spawn(runClose(std::move(document), std::move(done)));
}

void CloseReview::reviewQuit(std::vector<std::shared_ptr<ClosingDocument>> documents,
                             std::function<void(bool)> done) {
    if (reviewing_) {
        if (done) done(false);
        return;
    }
    reviewing_ = true;
    tasks_.spawn(runQuit(std::move(documents), std::move(done)));
}

Task<bool> CloseReview::mayClose(std::shared_ptr<ClosingDocument> document) {
    co_await document->flushDraft();
    if (!document->isEdited()) co_return true;
    document->showTab();
    const Ask ask{&question_, document};
    const CloseAnswer answer = co_await awaitCompletion<CloseAnswer>(ask);
    if (answer == CloseAnswer::cancel) co_return false;
    if (answer == CloseAnswer::dontSave) co_return true;

    const Save save{document};
    const std::optional<SaveError> error = co_await awaitCompletion<std::optional<SaveError>>(save);
    if (!error && !document->isEdited()) co_return true;
    // Stays open, selected, and says why.
    document->showTab();
    if (error && error->kind == SaveError::Kind::notWritable)
        document->showCloseFailure(error->description());
    else
        document->showCloseFailure(L10n::text("close.not_saved"));
    AppLog::document.info("关闭 %{private}s：未能保存，文档未关闭", document->displayName());
    co_return false;
}

Task<void> CloseReview::runClose(std::shared_ptr<ClosingDocument> document, std::function<void(bool)> done) {
    bool closed = false;
    try {
        closed = co_await mayClose(document);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        closed = false;
    }
    if (closed) document->close();
    reviewing_ = false;
    if (done) done(closed);
}

Task<void> CloseReview::runQuit(std::vector<std::shared_ptr<ClosingDocument>> documents,
                                std::function<void(bool)> done) {
    bool quit = true;
    for (const auto& document : documents) {
        bool may = false;
        try {
            may = co_await mayClose(document);
        } catch (...) {
            rethrowIfCancelled(std::current_exception());
            may = false;
        }
        if (!may) {
            quit = false;
            break;
        }
    }
    if (quit)
        for (const auto& document : documents) document->close();
    reviewing_ = false;
    if (done) done(quit);
}

}  // namespace larkspin
