#include "Reader/Strips/NoticeBarController.hpp"

#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

std::shared_ptr<NoticeBarController> NoticeBarController::create(
    std::shared_ptr<NoticeBarView> view, Theme theme) {
    std::shared_ptr<NoticeBarController> controller(
        new NoticeBarController(std::move(view), std::move(theme)));
    controller->connectView();
    return controller;
}

NoticeBarController::NoticeBarController(std::shared_ptr<NoticeBarView> view, Theme theme)
    : view_(std::move(view)), theme_(std::move(theme)) {}

void NoticeBarController::connectView() {
    std::weak_ptr<NoticeBarController> weak = weak_from_this();
    view_->onActionPressed = [weak](std::size_t index) {
        if (auto self = weak.lock()) self->actionPressed(index);
    };
}

NoticeBarController::~NoticeBarController() {
    view_->onActionPressed = nullptr;
}

void NoticeBarController::show(Content content) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    content_ = std::move(content);
    view_->render(NoticeBarPresentation::make(*content_, theme_));
    view_->setRevealed(true);
    view_->announce(content_->message);
    std::string titles;
    for (const auto& action : content_->actions) {
        if (!titles.empty()) titles += "/";
        titles += action.title;
    }
    AppLog::document.info("提示条显示：kind=%{public}s actions=%{public}s", rawValue(content_->kind), titles);
}

void NoticeBarController::hide() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!content_) return;
    content_.reset();
    view_->setRevealed(false);
}

void NoticeBarController::applyTheme(Theme theme) {
    theme_ = std::move(theme);
    if (content_) {
        view_->applyPalette(NoticeBarPalette::make(theme_, content_->tone, content_->kind));
    }
}

void NoticeBarController::actionPressed(std::size_t index) {
    if (!content_ || index >= content_->actions.size()) return;
    // A handler commonly replaces or clears the content it belongs to: run a
    // copy, never the stored one.
    const auto handler = content_->actions[index].handler;
    if (handler) handler();
}

}  // namespace larkspin
