#include "Window/Desktop/ReaderAppearanceFeed.hpp"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "Appearance/AccessibilityDisplayOptions.hpp"
#include "Appearance/AccessibilityDisplaySource.hpp"
#include "Appearance/AppearanceController.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Appearance/TypographyController.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Text/ErrorText.hpp"
#include "Platform/Log.hpp"
#include "Platform/UserDefaults.hpp"
#include "Protocol/Payloads/SetTypographyPayload.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Window/Widgets/WindowTheme.hpp"

namespace larkspin {

ReaderAppearanceFeed::ReaderAppearanceFeed(Sources sources,
                                           std::function<void(const Theme&)> applyWindowTheme)
    : sources_(sources), applyWindowTheme_(std::move(applyWindowTheme)) {
    observers_.push_back(sources_.center.addObserver(
        std::string(AppearanceController::didChangeNotification), nullptr,
        [this](const Notification&) { appearanceChanged(); }));
    observers_.push_back(sources_.center.addObserver(
        std::string(TypographyController::didChangeNotification), nullptr,
        [this](const Notification&) { typographyChanged(); }));
    observers_.push_back(
        sources_.accessibility.observeChanges([this] { appearanceChanged(); }));
    if (applyWindowTheme_)
        applyWindowTheme_(ThemeCatalog::theme(sources_.appearance.currentThemeID()));
}

std::shared_ptr<ReaderAppearanceFeed> ReaderAppearanceFeed::program(Sources sources) {
    return std::make_shared<ReaderAppearanceFeed>(
        sources, [](const Theme& theme) { WindowTheme::apply(theme); });
}

void ReaderAppearanceFeed::follow(const std::shared_ptr<ReaderViewController>& reader) {
    if (!reader) return;
    readers_.push_back(reader);
    pushAppearance(reader);
    pushTypography(reader);
}

void ReaderAppearanceFeed::follow(const std::shared_ptr<NoticeBarController>& noticeBar) {
    if (!noticeBar) return;
    noticeBars_.push_back(noticeBar);
    noticeBar->applyTheme(ThemeCatalog::theme(sources_.appearance.currentThemeID()));
}

std::size_t ReaderAppearanceFeed::followedCount() {
    return live().size();
}

std::vector<std::shared_ptr<ReaderViewController>> ReaderAppearanceFeed::live() {
    std::vector<std::shared_ptr<ReaderViewController>> alive;
    std::erase_if(readers_, [&](const std::weak_ptr<ReaderViewController>& weak) {
        auto reader = weak.lock();
        if (!reader) return true;
        alive.push_back(std::move(reader));
        return false;
    });
    return alive;
}

void ReaderAppearanceFeed::appearanceChanged() {
    const Theme theme = ThemeCatalog::theme(sources_.appearance.currentThemeID());
    if (applyWindowTheme_) applyWindowTheme_(theme);
    std::erase_if(noticeBars_, [&](const std::weak_ptr<NoticeBarController>& weak) {
        const auto bar = weak.lock();
        if (bar) bar->applyTheme(theme);
        return !bar;
    });
    for (const auto& reader : live()) pushAppearance(reader);
}

void ReaderAppearanceFeed::typographyChanged() {
    for (const auto& reader : live()) pushTypography(reader);
}

void ReaderAppearanceFeed::pushAppearance(const std::shared_ptr<ReaderViewController>& reader) {
    const auto accessibility = AccessibilityDisplayOptions::current(
        sources_.accessibility, sources_.defaults, AccessibilityDisplayOptions::processEnvironment());
    // Failures are logged by the reader.
    tasks_.spawn(reader->applyAppearance(ThemeCatalog::theme(sources_.appearance.currentThemeID()),
                                         sources_.appearance.themeRevision(), accessibility));
}

void ReaderAppearanceFeed::pushTypography(const std::shared_ptr<ReaderViewController>& reader) {
    tasks_.spawn(sendTypography(reader));
}

Task<void> ReaderAppearanceFeed::sendTypography(std::weak_ptr<ReaderViewController> weak) {
    co_await sources_.typography.prepareStoredFamilies();
    auto reader = weak.lock();
    if (!reader) co_return;
    auto push =
        reader->applyTypography(SetTypographyPayload::from(sources_.typography.effectiveSettings()));
    reader.reset();  // the push holds the reader's page weakly; so does this
    std::exception_ptr failure;
    try {
        co_await std::move(push);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::document.error("应用排版失败：%{private}s", ErrorText::describe(failure));
}

}  // namespace larkspin
