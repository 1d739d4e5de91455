#include "Reader/Chrome/ConflictBarController.hpp"

#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

std::shared_ptr<ConflictBarController> ConflictBarController::create(
    std::shared_ptr<ConflictBarView> view, Theme theme) {
    std::shared_ptr<ConflictBarController> controller(
        new ConflictBarController(std::move(view), std::move(theme)));
    controller->connectView();
    return controller;
}

ConflictBarController::ConflictBarController(std::shared_ptr<ConflictBarView> view, Theme theme)
    : view_(std::move(view)), theme_(std::move(theme)) {}

void ConflictBarController::connectView() {
    std::weak_ptr<ConflictBarController> weak = weak_from_this();
    view_->onActionPressed = [weak](std::size_t index) {
        if (auto self = weak.lock()) self->actionPressed(index);
    };
}

ConflictBarController::~ConflictBarController() {
    view_->onActionPressed = nullptr;
}

void ConflictBarController::show(Content content) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    content_ = std::move(content);
    view_->render(ConflictBarPresentation::make(*content_, theme_));
    view_->setRevealed(true);
    view_->announce(content_->message);
    std::string titles;
    for (const auto& action : content_->actions) {
        if (!titles.empty()) titles += "/";
        titles += action.title;
    }
    AppLog::document.info("提示条显示：kind=%{public}s actions=%{public}s", rawValue(content_->kind), titles);
    if (onVisibilityChange) onVisibilityChange(true);
}

void ConflictBarController::hide() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!content_) return;
    content_.reset();
    view_->setRevealed(false);
    if (onVisibilityChange) onVisibilityChange(false);
}

void ConflictBarController::applyTheme(Theme theme) {
    theme_ = std::move(theme);
    if (content_) {
        view_->applyPalette(ConflictBarPalette::make(theme_, content_->tone, content_->kind));
    }
}

void ConflictBarController::actionPressed(std::size_t index) {
    if (!content_ || index >= content_->actions.size()) return;
    // A handler commonly replaces or clears the content it belongs to: run a
    // copy, never the stored one.
    const auto handler = content_->actions[index].handler;
    if (handler) handler();
}

}  // namespace larkspin
