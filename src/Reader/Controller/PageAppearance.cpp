#include "Reader/Controller/PageAppearance.hpp"

#include <algorithm>

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Json/RawValue.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/ErrorText.hpp"
#include "Protocol/Payloads/AccessibilityDisplayOptionsFields.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Reader/Controller/PageRequest.hpp"
#include "Reader/ReaderLog.hpp"

namespace larkspin {

using reader::pageRequest;
using Type = BridgeMessageType;

PageAppearance::PageAppearance(std::shared_ptr<ReaderHost> host, const CurrentPage& page)
    : host_(std::move(host)), page_(page) {}

std::shared_ptr<ReaderBridge> PageAppearance::readyBridge() const {
    return page_.isPageReady() ? page_.pageBridge() : nullptr;
}

void PageAppearance::setUnderPage(const ColorComponents& color) {
    lastUnderPageColor_ = color;
    host_->setUnderPageColor(color);
}

ColorComponents PageAppearance::underPageColor(const Theme& theme,
                                               const AccessibilityDisplayOptions& accessibility) {
    const auto& gradient = theme.background.gradient;
    if (accessibility.prefersSolidBackground() || !gradient || gradient->empty()) {
        return theme.background.solid.nativeColor();
    }
    const auto lowest = std::min_element(
        gradient->begin(), gradient->end(),
        [](const GradientStop& a, const GradientStop& b) { return a.position < b.position; });
    return lowest->color.nativeColor();
}

Task<std::optional<ThemeAppliedPayload>> PageAppearance::applyTheme(
    Weak weak, SetThemePayload theme, SetBackgroundPayload background, ColorComponents underPage) {
    auto self = weak.lock();
    if (!self) co_return std::nullopt;
    self->lastTheme_ = theme;
    self->lastThemeBackground_ = background;
    self->setUnderPage(underPage);
    auto bridge = self->readyBridge();
    if (!bridge) co_return std::nullopt;
    self.reset();
    auto reply = co_await pageRequest<ThemeAppliedPayload>(bridge, Type::setTheme,
                                                           PayloadCodec::encode(theme),
                                                           Type::themeApplied);
    self = weak.lock();
    if (!self) co_return std::nullopt;
    if (!self->lastTheme_ || self->lastTheme_->themeRevision != reply.themeRevision) {
        AppLog::bridge.info("themeApplied 已过期：revision %ld，当前 %ld", reply.themeRevision,
                            self->lastTheme_ ? self->lastTheme_->themeRevision : std::int64_t{-1});
        co_return std::nullopt;
    }
    self.reset();
    co_await setBackground(weak, background, underPage);
    AppLog::bridge.info("themeApplied %{public}s revision=%ld tokens=%ld", reply.themeID,
                        reply.themeRevision, reply.appliedCount);
    co_return reply;
}

Task<BackgroundAppliedPayload> PageAppearance::setBackground(
    Weak weak, SetBackgroundPayload background, std::optional<ColorComponents> underPage) {
    auto self = weak.lock();
    auto bridge = self ? self->page_.pageBridge() : nullptr;
    if (!bridge) throw BridgeError::notAttached();
    if (underPage) self->setUnderPage(*underPage);
    self.reset();
    auto reply = co_await pageRequest<BackgroundAppliedPayload>(
        bridge, Type::setBackground, PayloadCodec::encode(background), Type::backgroundApplied);
    self = weak.lock();
    AppLog::bridge.info(
        "backgroundApplied page=%{public}s computed=%{public}s colorScheme=%{public}s "
        "underPage=%{public}s",
        reply.pageBackground, reply.computedBackground, reply.computedColorScheme,
        self ? self->host_->underPageColorDescription() : std::string("-"));
    co_return reply;
}

Task<std::optional<AccessibilityAppliedPayload>> PageAppearance::applyAccessibility(
    Weak weak, AccessibilityDisplayOptions options) {
    auto self = weak.lock();
    if (!self) co_return std::nullopt;
    self->lastAccessibility_ = options;
    auto bridge = self->readyBridge();
    if (!bridge) co_return std::nullopt;
    self.reset();
    auto reply = co_await pageRequest<AccessibilityAppliedPayload>(
        bridge, Type::setAccessibility, PayloadCodec::encode(options), Type::accessibilityApplied);
    AppLog::bridge.info(
        "accessibilityApplied reduceMotion=%{bool}d reduceTransparency=%{bool}d "
        "increaseContrast=%{bool}d",
        reply.reduceMotion, reply.reduceTransparency, reply.increaseContrast);
    co_return reply;
}

Task<std::optional<TypographyAppliedPayload>> PageAppearance::applyTypography(
    Weak weak, SetTypographyPayload payload) {
    auto self = weak.lock();
    if (!self) co_return std::nullopt;
    self->lastTypography_ = payload;
    auto bridge = self->readyBridge();
    if (!bridge) co_return std::nullopt;
    self.reset();
    auto reply = co_await pageRequest<TypographyAppliedPayload>(
        bridge, Type::setTypography, PayloadCodec::encode(payload), Type::typographyApplied);
    self = weak.lock();
    if (!self) co_return std::nullopt;
    if (self->lastTypography_ != payload) {
        AppLog::bridge.info("typographyApplied 已过期（等待期间有更新的设置）");
        co_return std::nullopt;
    }
    self->lastTypographyApplied_ = reply;
    ReaderLog::typographyApplied(reply);
    co_return reply;
}

Task<void> PageAppearance::applyAppearance(Weak weak, Theme theme, std::int64_t themeRevision,
                                           AccessibilityDisplayOptions accessibility) {
    const std::string themeID(rawValue(theme.id));
    SetThemePayload payload;
    payload.themeID = themeID;
    payload.themeRevision = themeRevision;
    payload.tokens = accessibility.mergingThemeTokens(theme.cssVariables());
    SetBackgroundPayload background;
    background.pageBackground = theme.web.canvas.hex;
    background.colorScheme = theme.appearance == ThemeAppearance::dark ? "dark" : "light";
    const ColorComponents underPage = underPageColor(theme, accessibility);
    std::exception_ptr failure;
    try {
        co_await applyAccessibility(weak, accessibility);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    // A failed accessibility push must not keep the theme from being
    // remembered: the next ready page would get the old one.
    if (failure) AppLog::document.error("应用主题 %{public}s 失败：%{private}s", themeID, ErrorText::describe(failure));
    failure = nullptr;
    try {
        co_await applyTheme(weak, payload, background, underPage);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::document.error("应用主题 %{public}s 失败：%{private}s", themeID, ErrorText::describe(failure));
}

namespace {

// Awaits one push sent again to a new page. A failure is logged under `what`
// and ends nothing else: the pushes after it still go.
template <typename Result>
Task<void> loggingFailure(Task<Result> push, const char* what) {
    std::exception_ptr failure;
    try {
        co_await std::move(push);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::bridge.error("补发%{public}s失败：%{private}s", what, ErrorText::describe(failure));
}

Task<ThemeAppliedPayload> sendTheme(std::shared_ptr<ReaderBridge> bridge, SetThemePayload theme) {
    auto reply = co_await pageRequest<ThemeAppliedPayload>(bridge, Type::setTheme, PayloadCodec::encode(theme),
                                                           Type::themeApplied);
    AppLog::bridge.info("themeApplied %{public}s revision=%ld tokens=%ld", reply.themeID, reply.themeRevision,
                        reply.appliedCount);
    co_return reply;
}

}  // namespace

Task<void> PageAppearance::resendAccessibility(Weak weak) {
    auto self = weak.lock();
    if (!self || !self->lastAccessibility_) co_return;
    auto push = applyAccessibility(weak, *self->lastAccessibility_);
    self.reset();
    co_await loggingFailure(std::move(push), "辅助功能开关");
}

Task<void> PageAppearance::resendTheme(Weak weak) {
    auto self = weak.lock();
    auto bridge = self ? self->readyBridge() : nullptr;
    if (!bridge || !self->lastTheme_ || !self->lastThemeBackground_) co_return;
    auto push = sendTheme(std::move(bridge), *self->lastTheme_);
    self.reset();
    co_await loggingFailure(std::move(push), "主题");
}

Task<void> PageAppearance::resendBackground(Weak weak) {
    auto self = weak.lock();
    if (!self || !self->lastTheme_ || !self->lastThemeBackground_ || !self->readyBridge()) co_return;
    const ColorComponents underPage = self->lastUnderPageColor_.value_or(ColorComponents{1, 1, 1, 1});
    auto push = setBackground(weak, *self->lastThemeBackground_, underPage);
    self.reset();
    co_await loggingFailure(std::move(push), "背景");
}

Task<void> PageAppearance::resendTypography(Weak weak) {
    auto self = weak.lock();
    if (!self || !self->lastTypography_) co_return;
    auto push = applyTypography(weak, *self->lastTypography_);
    self.reset();
    co_await loggingFailure(std::move(push), "排版");
}

}  // namespace larkspin
