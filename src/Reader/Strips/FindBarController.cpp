#include "Reader/Strips/FindBarController.hpp"

#include <exception>
#include <optional>

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin {

std::shared_ptr<FindBarController> FindBarController::create(std::shared_ptr<FindBarView> view,
                                                             std::weak_ptr<FindTarget> target) {
    std::shared_ptr<FindBarController> controller(
        new FindBarController(std::move(view), std::move(target)));
    controller->connectView();
    return controller;
}

FindBarController::FindBarController(std::shared_ptr<FindBarView> view,
                                     std::weak_ptr<FindTarget> target)
    : view_(std::move(view)), target_(std::move(target)) {}

void FindBarController::connectView() {
    std::weak_ptr<FindBarController> weak = weak_from_this();
    view_->onQueryChange = [weak](std::string text) {
        if (auto self = weak.lock()) self->queryChanged(std::move(text));
    };
    view_->onNext = [weak] {
        if (auto self = weak.lock()) self->step(FindPayload::Direction::next);
    };
    view_->onPrevious = [weak] {
        if (auto self = weak.lock()) self->step(FindPayload::Direction::previous);
    };
    view_->onClose = [weak] {
        if (auto self = weak.lock()) self->close();
    };
}

void FindBarController::show() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    state_.isVisible = true;
    view_->setRevealed(true);
    view_->render(state_);
    view_->focusField();
    AppLog::actions.info("查找条显示");
}

void FindBarController::close() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!state_.isVisible) return;
    const bool clearHighlights = state_.close();
    view_->setRevealed(false);
    view_->render(state_);
    if (auto target = target_.lock()) target->focusPage();
    if (clearHighlights) send(Request::clear());
    AppLog::actions.info("查找条关闭");
}

void FindBarController::step(FindPayload::Direction direction) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!state_.isVisible) show();
    if (auto request = state_.step(direction)) {
        send(std::move(*request));
    } else {
        view_->focusField();
    }
}

void FindBarController::queryChanged(std::string text) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (auto request = state_.queryChanged(std::move(text))) {
        send(std::move(*request));
    } else {
        view_->render(state_);
    }
}

void FindBarController::documentDidRender() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (auto request = state_.rendered()) send(std::move(*request));
}

std::optional<std::string> FindBarController::selectionQuery(std::string_view selection) {
    std::string query = trimmedWhitespace(selection);
    if (query.empty()) return std::nullopt;
    return query;
}

void FindBarController::useSelection() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    auto target = target_.lock();
    if (!target || !target->hasWebView()) return;
    selectionRead_.spawn(searchSelection(target->selectedText()));
}

Task<void> FindBarController::searchSelection(Task<std::string> reading) {
    std::string selection;
    try {
        selection = co_await std::move(reading);
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        AppLog::actions.error("读取选区失败：%{private}s", error.what());
        co_return;
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        AppLog::actions.error("读取选区失败：%{private}s", "unknown error");
        co_return;
    }
    std::optional<std::string> query = selectionQuery(selection);
    if (!query) co_return;
    if (!state_.isVisible) show();
    queryChanged(std::move(*query));
    // The field shows the new query now; the counter follows the page's answer.
    view_->render(state_);
}

void FindBarController::send(Request request) {
    ++requestSerial_;
    tasks_.spawn(perform(std::move(request), requestSerial_));
}

Task<void> FindBarController::perform(Request request, std::int64_t serial) {
    // The reader is held only while the call is made, not across the wait.
    std::optional<Task<FindResultPayload>> call;
    {
        auto target = target_.lock();
        if (!target) co_return;  // no reader any more: the request is dropped
        if (request.kind == Request::Kind::find) {
            call.emplace(target->find(request.payload));
        } else {
            call.emplace(target->clearFind());
        }
    }
    FindResultPayload reply;
    try {
        reply = co_await std::move(*call);
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        AppLog::actions.error("查找请求失败：%{private}s", error.what());
        co_return;
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        AppLog::actions.error("查找请求失败：%{private}s", "unknown error");
        co_return;
    }
    if (serial != requestSerial_) co_return;  // a newer request was sent
    if (request.kind == Request::Kind::find) {
        AppLog::actions.debug("查找结果：%ld 处，当前第 %ld 处", static_cast<long>(reply.matchCount),
                              static_cast<long>(reply.activeIndex));
        if (state_.applyFindReply(reply.matchCount, reply.activeIndex, reply.found,
                                  reply.partial.value_or(false))) {
            view_->shake();
        }
    }
    view_->render(state_);
}

}  // namespace larkspin
