#include "Reader/ReaderViewController.hpp"

#include <stdexcept>

#include "Platform/Text/ErrorText.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Json/RawValue.hpp"
#include "Platform/LaunchTiming.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Protocol/Payloads/DiagramAppliedPayload.hpp"
#include "Protocol/Diagrams/DiagramRenderService.hpp"
#include "Protocol/Navigation/NavigationPolicy.hpp"
#include "Reader/Controller/PageRequest.hpp"
#include "Reader/ReaderLog.hpp"
#include "Reader/PasteboardService.hpp"

namespace larkspin {

using reader::emptyObject;
using reader::pageRequest;
using Type = BridgeMessageType;

std::shared_ptr<ReaderViewController> ReaderViewController::create(std::string documentID,
                                                                   Dependencies dependencies) {
    return std::shared_ptr<ReaderViewController>(
        new ReaderViewController(std::move(documentID), std::move(dependencies)));
}

ReaderViewController::ReaderViewController(std::string documentID, Dependencies dependencies)
    : documentID_(std::move(documentID)),
      dependencies_(std::move(dependencies)),
      clock_(requiredClock(dependencies_)),
      appearance_(std::make_shared<PageAppearance>(dependencies_.host,
                                                   static_cast<const CurrentPage&>(*this))),
      session_(std::make_shared<RenderSession>(
          static_cast<const CurrentPage&>(*this), static_cast<RenderSessionEvents&>(*this), clock_,
          dependencies_.environment.preferredLocalizations)),
      lifecycle_(documentID_, dependencies_.host, dependencies_.environment, clock_,
                 static_cast<WebViewLifecycleEvents&>(*this)) {}

Clock& ReaderViewController::requiredClock(const Dependencies& dependencies) {
    const ReaderEnvironment& environment = dependencies.environment;
    if (!dependencies.host || dependencies.owner.expired() || !environment.clock ||
        !environment.imageWorkers || !environment.pasteboard ||
        !environment.preferredLocalizations || !environment.currentTheme) {
        throw std::invalid_argument(
            "reader without its host, owner, clock, image workers, pasteboard, languages or theme");
    }
    return *environment.clock;
}

// The web view's bridge is torn down by the lifecycle as it goes.
ReaderViewController::~ReaderViewController() { *alive_ = false; }

ReaderDiagnostics ReaderViewController::diagnostics() const {
    const RenderSession& session = *session_;
    const PageAppearance& appearance = *appearance_;
    ReaderDiagnostics d;
    d.firstScreenMarks = firstScreenMarks_;
    d.isRendering = session.isRendering();
    d.pageHasContent = session.pageHasContent();
    d.lastCapabilities = lastCapabilities_;
    d.lastRendered = session.lastRendered();
    d.lastImageSummary = session.lastImageSummary();
    d.lastAnchorRestored = session.lastAnchorRestored();
    d.lastScrolledToSource = session.lastScrolledToSource();
    d.lastLayoutReport = lastLayoutReport_;
    d.lastDiagramsProgress = session.lastDiagramsProgress();
    d.lastViewportInsets = lastViewportInsets_;
    d.lastViewportInsetsApplied = lastViewportInsetsApplied_;
    d.lastTheme = appearance.lastTheme();
    d.lastThemeBackground = appearance.lastThemeBackground();
    d.lastUnderPageColor = appearance.lastUnderPageColor();
    d.lastAccessibility = appearance.lastAccessibility();
    d.lastTypography = appearance.lastTypography();
    d.lastTypographyApplied = appearance.lastTypographyApplied();
    d.processTerminationCount = lifecycle_.processTerminationCount();
    d.releaseCount = lifecycle_.releaseCount();
    d.rebuildCount = lifecycle_.rebuildCount();
    d.alertCount = alertCount_;
    d.anchorSnapshotCount = session.anchorSnapshotCount();
    d.timeoutRetryCount = session.timeoutRetryCount();
    d.isInCrashLoop = lifecycle_.isInCrashLoop();
    d.isReleasePending = lifecycle_.isReleasePending();
    d.isFirstWebViewDeferred = lifecycle_.isFirstWebViewDeferred();
    d.isAwaitingRecoveryStrategy = session.isAwaitingRecoveryStrategy();
    d.lastRecoveryStrategy = session.lastRecoveryStrategy();
    d.documentResourceHandler = lifecycle_.documentResourceHandler();
    return d;
}

// ---- view and web view ----------------------------------------------------

void ReaderViewController::loadView(FirstWebView first) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!lifecycle_.beginLoadingView()) return;
    dependencies_.host->setEvents(weak_from_this());
    if (first == FirstWebView::whenShown) {
        lifecycle_.deferFirstWebView();
    } else {
        lifecycle_.putFirstWebView();
    }
}

std::shared_ptr<ReaderBridge> ReaderViewController::makeBridge() {
    auto bridge = ReaderBridge::create(documentID_, makeUUID());
    bridge->setDelegate(weak_from_this());
    bridge->setSourceRevision(session_->renderRevision());
    return bridge;
}

std::optional<ColorComponents> ReaderViewController::startingUnderPageColor() const {
    return appearance_->lastUnderPageColor();
}

void ReaderViewController::webViewPutInPlace(bool adopted) {
    firstScreenMarks_ = FirstScreenMarks{};
    firstScreenMarks_.webViewInstalledAt = clock_.now();
    if (!adopted) return;
    firstScreenMarks_.entryLoadStartedAt = firstScreenMarks_.webViewInstalledAt;
    firstScreenMarks_.usedPrewarmed = true;
}

void ReaderViewController::entryPageLoading() {
    session_->pageLoading();
    firstScreenMarks_.entryLoadStartedAt = clock_.now();
}

void ReaderViewController::webViewDiscarded() {
    session_->pageDiscarded();
    lastViewportInsets_.reset();
    lastViewportInsetsApplied_.reset();
}

void ReaderViewController::adoptedPageReady(ReaderBridge& bridge) { bridgeDidBecomeReady(bridge); }

void ReaderViewController::bridgeDidBecomeReady(ReaderBridge& bridge) {
    if (!lifecycle_.markReady(bridge)) return;
    LaunchTiming::mark("ready");
    firstScreenMarks_.readyAt = clock_.now();
    tasks_.spawn(runHandshakeProbe());
    sendHandshakeSequence();
}

Task<void> ReaderViewController::runHandshakeProbe() {
    auto bridge = lifecycle_.bridge();
    if (!bridge) co_return;
    std::exception_ptr failure;
    try {
        auto reply = co_await pageRequest<CapabilitiesPayload>(bridge, Type::probe, emptyObject(),
                                                               Type::capabilities);
        lifecycle_.pageAnswered(*bridge);
        lastCapabilities_ = reply;
        AppLog::bridge.info(
            "capabilities: isSecureContext=%{bool}d cryptoSubtle=%{bool}d moduleWorker=%{bool}d "
            "dynamicImport=%{bool}d cspBlockedInlineScript=%{bool}d userAgent=%{public}s",
            reply.isSecureContext, reply.cryptoSubtle, reply.moduleWorker, reply.dynamicImport,
            reply.cspBlockedInlineScript, reply.userAgent);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::bridge.error("probe 失败：%{private}s", ErrorText::describe(failure));
    firstScreenMarks_.probeDoneAt = clock_.now();
}

// The page takes requests in the order they arrive and applies the
// appearance at once, so the appearance and then the render go out back to
// back: the render is laid out with that appearance in force, and the first
// screen does not wait for a round trip per request.
void ReaderViewController::sendHandshakeSequence() {
    tasks_.spawn(PageAppearance::resendAccessibility(appearance_));
    tasks_.spawn(resendThemeAndMark());
    tasks_.spawn(PageAppearance::resendBackground(appearance_));
    tasks_.spawn(resendTypographyAndMark());
    if (lastViewportInsets_) {
        const ViewportInsetsPayload waiting = *lastViewportInsets_;
        lastViewportInsets_.reset();
        sendViewportInsets(waiting);
    }
    session_->scheduleRender();
}

Task<void> ReaderViewController::resendThemeAndMark() {
    co_await PageAppearance::resendTheme(appearance_);
    firstScreenMarks_.themeDoneAt = clock_.now();
}

Task<void> ReaderViewController::resendTypographyAndMark() {
    co_await PageAppearance::resendTypography(appearance_);
    firstScreenMarks_.typographyDoneAt = clock_.now();
}

// ---- navigation and loading ----------------------------------------------

bool ReaderViewController::webViewShouldNavigate(const NavigationRequest& request) {
    const auto decision = NavigationPolicy::decideNavigation(request.url, request.isMainFrame,
                                                             request.hasTargetFrame, request.type);
    if (decision.kind == NavigationPolicy::NavigationDecision::Kind::allow) return true;
    AppLog::bridge.error("拦截导航（%{private}s）：%{private}s", decision.reason,
                         request.url.value_or("<nil>"));
    return false;
}

void ReaderViewController::webViewDidFinishLoad() {
    LaunchTiming::mark("入口页已加载");
    lifecycle_.entryLoadEnded();
}

void ReaderViewController::webViewDidFailLoad(bool provisional, const std::string& description) {
    lifecycle_.entryLoadEnded();
    if (provisional) {
        AppLog::bridge.error("首次导航失败：%{private}s", description);
    } else {
        AppLog::bridge.error("导航失败：%{private}s", description);
    }
}

void ReaderViewController::webViewDidIgnorePanel(ScriptPanel panel, const std::string& message) {
    ++alertCount_;
    switch (panel) {
        case ScriptPanel::alert:
            AppLog::bridge.error("忽略页面 alert：%{private}s", message);
            break;
        case ScriptPanel::confirm:
            AppLog::bridge.error("忽略页面 confirm：%{private}s", message);
            break;
        case ScriptPanel::prompt:
            AppLog::bridge.error("忽略页面 prompt：%{private}s", message);
            break;
    }
}

void ReaderViewController::webViewDidRefuseNewWindow(const std::optional<std::string>& url) {
    AppLog::bridge.error("拦截新窗口请求：%{private}s", url.value_or("<nil>"));
}

// ---- release, rebuild, crash recovery --------------------------------------

Task<bool> ReaderViewController::releaseWebView() { return performRelease(weak_from_this()); }

Task<bool> ReaderViewController::performRelease(Weak weak) {
    auto self = weak.lock();
    if (!self || !self->lifecycle_.beginRelease()) co_return false;
    const RenderSession::Weak session = self->session_;
    self.reset();
    // A failed capture keeps the anchor stored before; the release goes on.
    co_await RenderSession::captureAnchor(session);
    self = weak.lock();
    if (!self || !self->lifecycle_.finishRelease()) co_return false;
    const auto& anchor = self->session_->readingAnchor();
    AppLog::bridge.info("释放 WKWebView（第 %ld 次）：anchor=%{public}s scrollTop=%ld",
                        self->lifecycle_.releaseCount(),
                        anchor ? anchor->blockId : std::string("<nil>"),
                        anchor ? ReaderLog::wholeNumber(anchor->scrollTop) : std::int64_t{0});
    co_return true;
}

bool ReaderViewController::ensureWebView() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const auto& anchor = session_->readingAnchor();
    if (!lifecycle_.rebuild(anchor ? anchor->blockId : std::string("<nil>"),
                            session_->source() != nullptr)) {
        return false;
    }
    updateObscuredContentInsets();
    return true;
}

void ReaderViewController::crashLoopPageHidden() { presentStatus(); }

void ReaderViewController::webViewProcessDidTerminate(std::string_view reason) {
    // The one listener of the process end: the bridge hears it from here,
    // before any rebuild replaces the page it was talking to.
    if (const auto& bridge = lifecycle_.bridge()) bridge->webProcessDidTerminate();
    switch (lifecycle_.processTerminated(reason)) {
        case WebViewLifecycle::Termination::spareLost:
            updateObscuredContentInsets();
            return;
        case WebViewLifecycle::Termination::crashLoop:
            presentStatus();
            notifyOwner(&ReaderOwner::readerNeedsProcessRecovery, ProcessRecoveryAction::crashLoop);
            return;
        case WebViewLifecycle::Termination::rebuild:
            break;
    }
    session_->awaitRecoveryStrategy();
    const auto& anchor = session_->readingAnchor();
    AppLog::bridge.error("Web 内容进程终止：count=%ld hasAnchor=%{bool}d anchorScrollTop=%ld 重建 WKWebView",
                         lifecycle_.processTerminationCount(), anchor.has_value(),
                         anchor ? ReaderLog::wholeNumber(anchor->scrollTop) : std::int64_t{0});
    recoverAfterProcessEnd(ProcessRecoveryAction::rebuild);
}

void ReaderViewController::crashLoopRetryRequested() {
    session_->awaitRecoveryStrategy();
    AppLog::bridge.info("用户重试重建 Web 内容进程：count=%ld", lifecycle_.processTerminationCount());
    recoverAfterProcessEnd(ProcessRecoveryAction::retry);
}

void ReaderViewController::recoverAfterProcessEnd(ProcessRecoveryAction action) {
    // The owner decides when (a background window waits until it is shown).
    notifyOwner(&ReaderOwner::readerNeedsProcessRecovery, action);
}

// ---- render ----------------------------------------------------------------

void ReaderViewController::render(std::string source, std::optional<RenderEnhancements> enhancements) {
    render(std::make_shared<const std::string>(std::move(source)), std::move(enhancements));
}

void ReaderViewController::render(std::shared_ptr<const std::string> source,
                                  std::optional<RenderEnhancements> enhancements) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    session_->render(std::move(source), std::move(enhancements));
}

void ReaderViewController::renderWillBeSent() {
    LaunchTiming::mark("渲染请求已发出");
    if (!firstScreenMarks_.renderSentAt) firstScreenMarks_.renderSentAt = clock_.now();
}

void ReaderViewController::renderedReplyReceived() {
    if (const auto& bridge = lifecycle_.bridge()) lifecycle_.pageAnswered(*bridge);
    if (firstScreenMarks_.renderedReceivedAt) return;
    LaunchTiming::mark("rendered");
    firstScreenMarks_.renderedReceivedAt = clock_.now();
    if (dependencies_.environment.prewarmer) {
        dependencies_.environment.prewarmer->scheduleAfter(WebViewPrewarmer::afterFirstRenderDelay);
    }
}

bool ReaderViewController::rendered(const RenderedPayload& reply) {
    return notifyOwner(&ReaderOwner::readerDidRender, reply);
}

void ReaderViewController::setWindowActive(bool active) { session_->setWindowActive(active); }

Task<std::optional<ReadingAnchor>> ReaderViewController::captureReadingAnchor() {
    return RenderSession::captureAnchor(session_);
}

// ---- document location and diagrams --------------------------------------

void ReaderViewController::setDocumentLocation(std::optional<std::filesystem::path> location) {
    lifecycle_.setDocumentLocation(std::move(location));
}

void ReaderViewController::documentResourceAccessDenied(const std::string& path) {
    notifyOwner(&ReaderOwner::readerWasDeniedResource, path);
}

Task<void> ReaderViewController::serveDiagramRequest(DiagramRequestPayload request) {
    if (!lifecycle_.bridge()) co_return;
    auto service = dependencies_.environment.diagramService;
    // The diagram is wanted while the page that asked is still this reader's.
    const std::weak_ptr<ReaderBridge> asking = lifecycle_.bridge();
    const DiagramRenderService::StillWanted stillWanted = [weak = weak_from_this(), asking] {
        auto owner = weak.lock();
        auto bridge = asking.lock();
        return owner && bridge && owner->lifecycle_.bridge() == bridge && owner->lifecycle_.isReady();
    };
    const std::string diagramID = request.diagramID;
    DiagramResultPayload result =
        DiagramResultPayload::failure(diagramID, "unavailable", "独立渲染服务不可用");
    if (service) result = co_await service->render(std::move(request), stillWanted);
    if (!stillWanted()) co_return;
    auto bridge = asking.lock();
    std::exception_ptr failure;
    try {
        auto applied = co_await pageRequest<DiagramAppliedPayload>(
            bridge, Type::diagramResult, PayloadCodec::encode(result), Type::diagramApplied);
        if (!applied.accepted) {
            AppLog::diagrams.info("diagramResult %{public}s 已过期（页面不再等待）", diagramID);
        }
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::diagrams.error("送回 diagramResult 失败：%{private}s", ErrorText::describe(failure));
}

// ---- requests ---------------------------------------------------------------

Task<FindResultPayload> ReaderViewController::find(FindPayload payload) {
    return performFind(weak_from_this(), std::move(payload));
}

Task<FindResultPayload> ReaderViewController::performFind(Weak weak, FindPayload payload) {
    auto self = weak.lock();
    auto bridge = self ? self->lifecycle_.bridge() : nullptr;
    if (!bridge) throw BridgeError::notAttached();
    self.reset();
    auto reply = co_await pageRequest<FindResultPayload>(bridge, Type::find,
                                                         PayloadCodec::encode(payload),
                                                         Type::findResult);
    AppLog::actions.info(
        "find \"%{private}s\" %{public}s restart=%{bool}d → matchCount=%ld activeIndex=%ld "
        "found=%{bool}d",
        payload.query, rawValue(payload.direction), payload.restart, reply.matchCount,
        reply.activeIndex, reply.found);
    co_return reply;
}

Task<FindResultPayload> ReaderViewController::clearFind() {
    return performClearFind(weak_from_this());
}

Task<FindResultPayload> ReaderViewController::performClearFind(Weak weak) {
    auto self = weak.lock();
    auto bridge = self ? self->lifecycle_.bridge() : nullptr;
    if (!bridge) throw BridgeError::notAttached();
    self.reset();
    co_return co_await pageRequest<FindResultPayload>(bridge, Type::clearFind, emptyObject(),
                                                      Type::findResult);
}

Task<ScrolledPayload> ReaderViewController::scrollToHeading(std::string id) {
    return performScroll(weak_from_this(), std::move(id));
}

Task<ScrolledPayload> ReaderViewController::performScroll(Weak weak, std::string id) {
    auto self = weak.lock();
    auto bridge = self ? self->lifecycle_.bridge() : nullptr;
    if (!bridge) throw BridgeError::notAttached();
    self.reset();
    JSONValue::Object object;
    object.emplace("id", JSONValue::string(id));
    auto reply = co_await pageRequest<ScrolledPayload>(
        bridge, Type::scrollToHeading, JSONValue::object(std::move(object)), Type::scrolled);
    if (!reply.found) AppLog::bridge.error("scrollToHeading：页面里没有 id=%{private}s 的标题", id);
    co_return reply;
}

void ReaderViewController::focusPage() { dependencies_.host->focusPage(); }

Task<std::string> ReaderViewController::selectedText() {
    return performSelectedText(weak_from_this());
}

Task<std::string> ReaderViewController::performSelectedText(Weak weak) {
    auto self = weak.lock();
    if (!self || !self->lifecycle_.bridge()) throw BridgeError::notAttached();
    Task<std::optional<std::string>> call =
        self->dependencies_.host->runPageScript("return String(window.getSelection() ?? '');");
    self.reset();
    const std::optional<std::string> text = co_await std::move(call);
    co_return text.value_or(std::string());
}

void ReaderViewController::updateObscuredContentInsets() {
    if (!lifecycle_.bridge()) return;
    // Nothing covers the page: the strips above the reader in the tab page
    // and the banner above the web view are all outside it.
    sendViewportInsets(ViewportInsetsPayload{0.0, 0.0});
}

void ReaderViewController::sendViewportInsets(ViewportInsetsPayload insets) {
    if (lastViewportInsets_ && lastViewportInsets_->top == insets.top &&
        lastViewportInsets_->bottom == insets.bottom) {
        return;
    }
    lastViewportInsets_ = insets;
    if (lifecycle_.isReady() && lifecycle_.bridge()) {
        tasks_.spawn(exchangeViewportInsets(lifecycle_.bridge(), insets));
    }
}

Task<void> ReaderViewController::exchangeViewportInsets(std::shared_ptr<ReaderBridge> bridge,
                                                        ViewportInsetsPayload insets) {
    std::exception_ptr failure;
    try {
        auto applied = co_await pageRequest<ViewportInsetsAppliedPayload>(
            bridge, Type::setViewportInsets, PayloadCodec::encode(insets),
            Type::viewportInsetsApplied);
        lastViewportInsetsApplied_ = applied;
        AppLog::bridge.info("viewportInsetsApplied top=%f bottom=%f originOffset=%f", applied.top,
                            applied.bottom, applied.originOffset);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::bridge.error("setViewportInsets 失败：%{private}s", ErrorText::describe(failure));
}

void ReaderViewController::scheduleAnchorSnapshot(Clock::Duration delay) {
    session_->scheduleAnchorSnapshot(delay);
}

// ---- page events ----------------------------------------------------------

void ReaderViewController::bridgeDidReceiveError(ReaderBridge&, const BridgeErrorPayload& error) {
    AppLog::bridge.error("渲染器错误 %{public}s：%{private}s", error.code, error.message);
}

void ReaderViewController::bridgeDidReportActiveHeading(ReaderBridge&,
                                                        const ActiveHeadingPayload& payload) {
    scheduleAnchorSnapshot(activeHeadingSnapshotDelay);
    notifyOwner(&ReaderOwner::readerDidReportActiveHeading, payload);
}

void ReaderViewController::bridgeDidReceiveLayoutReport(ReaderBridge&,
                                                        const LayoutReportPayload& payload) {
    lastLayoutReport_ = payload;
    if (firstScreenMarks_.renderedReceivedAt && !firstScreenMarks_.layoutReportAt) {
        firstScreenMarks_.layoutReportAt = clock_.now();
    }
    ReaderLog::layoutReport(payload);
}

void ReaderViewController::bridgeDidReportDiagramsProgress(ReaderBridge&,
                                                           const DiagramsProgressPayload& payload) {
    session_->noteDiagramsProgress(payload);
    ReaderLog::diagramsProgress(payload);
}

void ReaderViewController::bridgeDidRequestDiagram(ReaderBridge&,
                                                   const DiagramRequestPayload& payload) {
    tasks_.spawn(serveDiagramRequest(payload));
}

void ReaderViewController::bridgeDidRequestCopy(ReaderBridge&, const CopyTextPayload& payload) {
    // The process's pasteboard, the one every copy of the program goes to.
    (void)dependencies_.environment.pasteboard->write(payload.text, payload.kind);
}

void ReaderViewController::bridgeDidRequestOpenLink(ReaderBridge&, const OpenLinkPayload& payload) {
    notifyOwner(&ReaderOwner::readerDidRequestOpenLink, payload);
}

void ReaderViewController::bridgeDidRestoreAnchor(ReaderBridge&,
                                                  const AnchorRestoredPayload& payload) {
    session_->noteAnchorRestored(payload);
}

// ---- appearance -------------------------------------------------------------

ColorComponents ReaderViewController::underPageColor(const Theme& theme,
                                                     const AccessibilityDisplayOptions& accessibility) {
    return PageAppearance::underPageColor(theme, accessibility);
}

Task<std::optional<ThemeAppliedPayload>> ReaderViewController::applyTheme(
    SetThemePayload theme, SetBackgroundPayload background, ColorComponents underPage) {
    return PageAppearance::applyTheme(appearance_, std::move(theme), std::move(background),
                                      underPage);
}

Task<std::optional<AccessibilityAppliedPayload>> ReaderViewController::applyAccessibility(
    AccessibilityDisplayOptions options) {
    return PageAppearance::applyAccessibility(appearance_, options);
}

Task<std::optional<TypographyAppliedPayload>> ReaderViewController::applyTypography(
    SetTypographyPayload payload) {
    return PageAppearance::applyTypography(appearance_, std::move(payload));
}

Task<void> ReaderViewController::applyAppearance(Theme theme, std::int64_t themeRevision,
                                                 AccessibilityDisplayOptions accessibility) {
    // The status page is drawn outside the page: it follows at once.
    dependencies_.host->applyTheme(theme);
    return PageAppearance::applyAppearance(appearance_, std::move(theme), themeRevision,
                                           accessibility);
}

// ---- overlays -------------------------------------------------------------

void ReaderViewController::showDocumentStatus(DocumentStatusContent content,
                                              std::function<void()> onAction) {
    documentStatus_ = StatusPage{std::move(content), std::move(onAction)};
    presentStatus();
}

void ReaderViewController::hideDocumentStatus() {
    if (!documentStatus_) return;
    documentStatus_.reset();
    presentStatus();
}

void ReaderViewController::presentStatus() {
    const std::optional<StatusPage>& crashLoop = lifecycle_.crashLoopStatus();
    const std::optional<StatusPage>& page = crashLoop ? crashLoop : documentStatus_;
    if (!page) {
        dependencies_.host->hideStatus();
        return;
    }
    const DocumentStatusContent& content = page->content;
    // The byte count: counting characters would walk the whole preview (up
    // to 1 MiB) on the main thread only for this line.
    const std::size_t previewBytes = content.preview ? content.preview->size() : 0;
    AppLog::document.info("文档状态页：%{public}s（%{private}s）预览 %zu 字节", content.title,
                          content.detail, previewBytes);
    dependencies_.host->showStatus(page->content, dependencies_.environment.currentTheme(),
                                   page->onAction);
}

ReaderViewController::BannerID ReaderViewController::showBanner(std::string message,
                                                               std::string actionTitle,
                                                               std::function<void()> onAction,
                                                               std::function<void()> onDismiss) {
    const BannerID banner = ++lastBannerID_;
    shownBanner_ = banner;
    dependencies_.host->showBanner(message, actionTitle, std::move(onAction), std::move(onDismiss));
    updateObscuredContentInsets();
    return banner;
}

void ReaderViewController::hideBanner(BannerID banner) {
    if (banner == shownBanner_) hideBanner();
}

void ReaderViewController::hideBanner() {
    if (shownBanner_ == 0) return;
    shownBanner_ = 0;
    dependencies_.host->hideBanner();
    updateObscuredContentInsets();
}

}  // namespace larkspin
