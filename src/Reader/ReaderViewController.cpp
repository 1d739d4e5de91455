#include "Reader/ReaderViewController.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "Platform/Text/ErrorText.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Json/RawValue.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Protocol/AccessibilityDisplayOptionsFields.hpp"
#include "Protocol/AnchorPayload.hpp"
#include "Protocol/AppResourceSchemeHandler.hpp"
#include "Protocol/BridgeError.hpp"
#include "Protocol/DiagramAppliedPayload.hpp"
#include "Protocol/Diagrams/DiagramRenderService.hpp"
#include "Protocol/DocumentResourceSchemeHandler.hpp"
#include "Protocol/NavigationPolicy.hpp"
#include "Protocol/RenderRequestPayload.hpp"
#include "Protocol/RendererLanguage.hpp"
#include "Reader/ReaderLog.hpp"
#include "Web/Desktop/PasteboardService.hpp"

namespace larkspin {

namespace {

using Type = BridgeMessageType;

// Sends a request through `bridge` and reads the reply as `Reply`, which must
// come as `expected` (BridgeError::unexpectedType otherwise).
template <typename Reply>
Task<Reply> pageRequest(std::shared_ptr<ReaderBridge> bridge, BridgeMessageType type,
                        JSONValue payload, BridgeMessageType expected) {
    co_return co_await bridge->template request<Reply>(type, std::move(payload), expected);
}

JSONValue emptyObject() { return JSONValue::object(); }

}  // namespace

std::shared_ptr<ReaderViewController> ReaderViewController::create(std::string documentID,
                                                                   Dependencies dependencies) {
    return std::shared_ptr<ReaderViewController>(
        new ReaderViewController(std::move(documentID), std::move(dependencies)));
}

ReaderViewController::ReaderViewController(std::string documentID, Dependencies dependencies)
    : documentID_(std::move(documentID)),
      dependencies_(std::move(dependencies)),
      clock_(requiredClock(dependencies_)) {}

Clock& ReaderViewController::requiredClock(const Dependencies& dependencies) {
    const ReaderEnvironment& environment = dependencies.environment;
    if (!dependencies.host || !environment.clock || !environment.pasteboard ||
        !environment.preferredLocalizations || !environment.currentTheme) {
        throw std::invalid_argument("reader without its host, clock, pasteboard, languages or theme");
    }
    return *environment.clock;
}

ReaderViewController::~ReaderViewController() {
    *alive_ = false;
    if (bridge_) bridge_->teardown();
}

ReaderDiagnostics ReaderViewController::diagnostics() const {
    ReaderDiagnostics d;
    d.firstScreenMarks = firstScreenMarks_;
    d.isRendering = renderQueue_.isRunning();
    d.pageHasContent = pageHasContent_;
    d.lastCapabilities = lastCapabilities_;
    d.lastRendered = lastRendered_;
    d.lastImageSummary = lastImageSummary_;
    d.lastAnchorRestored = lastAnchorRestored_;
    d.lastScrolledToSource = lastScrolledToSource_;
    d.lastLayoutReport = lastLayoutReport_;
    d.lastDiagramsProgress = lastDiagramsProgress_;
    d.lastViewportInsets = lastViewportInsets_;
    d.lastViewportInsetsApplied = lastViewportInsetsApplied_;
    d.lastTheme = lastTheme_;
    d.lastThemeBackground = lastThemeBackground_;
    d.lastUnderPageColor = lastUnderPageColor_;
    d.lastAccessibility = lastAccessibility_;
    d.lastTypography = lastTypography_;
    d.lastTypographyApplied = lastTypographyApplied_;
    d.processTerminationCount = processTerminationCount_;
    d.releaseCount = releaseCount_;
    d.rebuildCount = rebuildCount_;
    d.alertCount = alertCount_;
    d.anchorSnapshotCount = anchorSnapshotCount_;
    d.timeoutRetryCount = timeoutRetryCount_;
    d.isInCrashLoop = isInCrashLoop_;
    d.isReleasePending = releasePending_;
    d.isAwaitingRecoveryStrategy = awaitingRecoveryStrategy_;
    d.lastRecoveryStrategy = lastRecoveryStrategy_;
    d.documentResourceHandler = documentResourceHandler_;
    return d;
}

// ---- view and web view ----------------------------------------------------

void ReaderViewController::loadView() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (viewLoaded_) return;
    viewLoaded_ = true;
    dependencies_.host->setEvents(weak_from_this());
    if (auto spare = claimSpare()) {
        adoptPrewarmedWebView(std::move(*spare));
        return;
    }
    const auto& rendererFiles = dependencies_.environment.rendererFiles;
    schemeHandler_ = rendererFiles ? rendererFiles->sibling() : nullptr;
    if (!schemeHandler_) {
        dependencies_.host->showRendererMissing(L10n::text("reader.renderer_missing"));
        return;
    }
    documentResourceHandler_ = DocumentResourceSchemeHandler::create();
    applyDocumentLocation();
    installWebView();
    loadEntryPage();
}

std::optional<WebViewPrewarmer::Instance> ReaderViewController::claimSpare() {
    return dependencies_.environment.prewarmer ? dependencies_.environment.prewarmer->claim() : std::nullopt;
}

void ReaderViewController::installWebView() {
    if (!schemeHandler_ || !documentResourceHandler_) return;
    auto port = dependencies_.host->installWebView(schemeHandler_, documentResourceHandler_,
                                                   lastUnderPageColor_);
    mount(std::move(port));
    firstScreenMarks_ = FirstScreenMarks{};
    firstScreenMarks_.webViewInstalledAt = clock_.now();
}

void ReaderViewController::adoptPrewarmedWebView(WebViewPrewarmer::Instance spare) {
    // The document's location goes to the spare's handler; the old handler
    // leaves with its web view.
    if (documentResourceHandler_ && documentResourceHandler_ != spare.documentResourceHandler) {
        documentResourceHandler_->setAccessDeniedCallback({});
    }
    schemeHandler_ = spare.schemeHandler;
    documentResourceHandler_ = spare.documentResourceHandler;
    applyDocumentLocation();
    dependencies_.host->adoptWebView(spare.webView, lastUnderPageColor_);
    mountTakingOver(*spare.bridge);
    firstScreenMarks_ = FirstScreenMarks{};
    firstScreenMarks_.webViewInstalledAt = clock_.now();
    firstScreenMarks_.entryLoadStartedAt = firstScreenMarks_.webViewInstalledAt;
    firstScreenMarks_.usedPrewarmed = true;
    AppLog::bridge.info("领用预热的 WKWebView：documentID=%{public}s", documentID_);
    // The spare's page said "ready" before it was claimed: the handshake runs
    // on the next turn, unless the web view was replaced in between.
    tasks_.spawn(announceAdoptedReady(bridge_));
}

Task<void> ReaderViewController::announceAdoptedReady(std::shared_ptr<ReaderBridge> adopted) {
    if (bridge_ && bridge_ == adopted) bridgeDidBecomeReady(*bridge_);
    co_return;
}

std::shared_ptr<ReaderBridge> ReaderViewController::makeBridge() {
    auto bridge = ReaderBridge::create(documentID_, makeUUID());
    bridge->setDelegate(weak_from_this());
    bridge->setSourceRevision(renderRevision_);
    return bridge;
}

void ReaderViewController::mount(std::shared_ptr<ReaderBridgePort> port) {
    bridge_ = makeBridge();
    bridge_->attach(std::move(port));
}

void ReaderViewController::mountTakingOver(ReaderBridge& spareBridge) {
    bridge_ = makeBridge();
    bridge_->attachTakingOverFrom(spareBridge);
}

void ReaderViewController::loadEntryPage() {
    isReady_ = false;
    pageHasContent_ = false;
    firstScreenMarks_.entryLoadStartedAt = clock_.now();
    if (!bridge_) return;
    dependencies_.host->loadEntryPage(AppResourceSchemeHandler::entryURL);
    entryLoadGuard_.spawn(guardEntryLoad(clock_.now() + entryLoadTimeout));
}

Task<void> ReaderViewController::guardEntryLoad(Clock::TimePoint due) {
    if (const auto left = due - clock_.now(); left > Clock::Duration::zero()) {
        co_await sleepFor(clock_, left);
    }
    dependencies_.host->stopLoading();
    AppLog::bridge.error("首次导航失败：%{private}s",
                         fmt::format("入口页 {} 秒内没有载入完成", entryLoadTimeout.count()));
}

void ReaderViewController::discardWebView() {
    renderQueue_.reset();
    anchorSnapshot_.cancel();
    isReady_ = false;
    pageHasContent_ = false;
    lastViewportInsets_.reset();
    lastViewportInsetsApplied_.reset();
    entryLoadGuard_.cancel();
    if (bridge_) bridge_->teardown();
    bridge_.reset();
    dependencies_.host->discardWebView();
}

void ReaderViewController::bridgeDidBecomeReady(ReaderBridge& bridge) {
    if (&bridge != bridge_.get()) return;
    isReady_ = true;
    firstScreenMarks_.readyAt = clock_.now();
    tasks_.spawn(runHandshakeProbe());
    tasks_.spawn(runHandshakeSequence());
}

Task<void> ReaderViewController::runHandshakeProbe() {
    auto bridge = bridge_;
    if (!bridge) co_return;
    std::exception_ptr failure;
    try {
        auto reply = co_await pageRequest<CapabilitiesPayload>(bridge, Type::probe, emptyObject(),
                                                               Type::capabilities);
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
    if (!failure && lastCapabilities_) {
        const CapabilitiesPayload reply = *lastCapabilities_;
        notifyOwner(onCapabilities, reply);
    }
}

Task<void> ReaderViewController::runHandshakeSequence() {
    co_await resendThemeIfNeeded();
    firstScreenMarks_.themeDoneAt = clock_.now();
    co_await resendTypographyIfNeeded();
    firstScreenMarks_.typographyDoneAt = clock_.now();
    if (lastViewportInsets_) {
        const ViewportInsetsPayload waiting = *lastViewportInsets_;
        lastViewportInsets_.reset();
        sendViewportInsets(waiting);
    }
    scheduleRender();
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

void ReaderViewController::webViewDidFinishLoad() { entryLoadGuard_.cancel(); }

void ReaderViewController::webViewDidFailLoad(bool provisional, const std::string& description) {
    entryLoadGuard_.cancel();
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
    if (!self || !self->bridge_ || self->releasePending_) co_return false;
    self->releasePending_ = true;
    self.reset();
    // A failed capture keeps the anchor stored before; the release goes on.
    co_await captureAnchor(weak);
    self = weak.lock();
    if (!self) co_return false;
    if (!self->releasePending_ || !self->bridge_) {
        self->releasePending_ = false;  // a rebuild or a process end came first
        co_return false;
    }
    self->releasePending_ = false;
    self->discardWebView();
    ++self->releaseCount_;
    const auto& anchor = self->readingAnchor_;
    AppLog::bridge.info("释放 WKWebView（第 %ld 次）：anchor=%{public}s scrollTop=%ld",
                        self->releaseCount_, anchor ? anchor->blockId : std::string("<nil>"),
                        anchor ? ReaderLog::wholeNumber(anchor->scrollTop) : std::int64_t{0});
    co_return true;
}

bool ReaderViewController::ensureWebView() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    releasePending_ = false;  // a release still capturing its anchor discards nothing
    if (bridge_ || !schemeHandler_ || !viewLoaded_) return false;
    if (isInCrashLoop_) {
        isInCrashLoop_ = false;
        crashLoopStatus_.reset();  // only its own page: the document's stays
        presentStatus();
    }
    ++rebuildCount_;
    AppLog::bridge.info("重建 WKWebView（第 %ld 次）：restoreAnchor=%{public}s hasSource=%{bool}d",
                        rebuildCount_, readingAnchor_ ? readingAnchor_->blockId : std::string("<nil>"),
                        source_ != nullptr);
    if (auto spare = claimSpare()) {
        adoptPrewarmedWebView(std::move(*spare));
    } else {
        installWebView();
        loadEntryPage();
    }
    updateObscuredContentInsets();
    return true;
}

void ReaderViewController::webViewProcessDidTerminate(std::string_view reason) {
    AppLog::bridge.error("Web 内容进程终止：reason=%{public}s", reason);
    ++processTerminationCount_;
    const Clock::TimePoint now = clock_.now();
    const std::optional<Clock::Duration> sinceLast =
        lastTerminationAt_ ? std::optional(now - *lastTerminationAt_) : std::nullopt;
    lastTerminationAt_ = now;
    releasePending_ = false;
    if (bridge_) discardWebView();

    if (sinceLast && *sinceLast < crashLoopWindow) {
        isInCrashLoop_ = true;
        AppLog::bridge.fault(
            "Web 内容进程反复终止：count=%ld sinceLastMs=%ld 停止自动重建，等用户重试",
            processTerminationCount_,
            std::chrono::duration_cast<std::chrono::milliseconds>(*sinceLast).count());
        DocumentStatusContent content;
        content.title = L10n::text("status.crash_loop.title");
        content.detail = L10n::format(
            "status.crash_loop.detail",
            {std::to_string(crashLoopWindow.count()), std::to_string(processTerminationCount_)});
        content.actionTitle = L10n::text("common.retry");
        crashLoopStatus_ = StatusPage{std::move(content), [weak = weak_from_this()] {
                                          if (auto self = weak.lock()) self->retryAfterCrashLoop();
                                      }};
        presentStatus();
        notifyOwner(onWebContentProcessTerminated, ProcessRecoveryAction::crashLoop);
        return;
    }

    awaitingRecoveryStrategy_ = readingAnchor_.has_value();
    lastRecoveryStrategy_.reset();
    AppLog::bridge.error("Web 内容进程终止：count=%ld hasAnchor=%{bool}d anchorScrollTop=%ld 重建 WKWebView",
                         processTerminationCount_, readingAnchor_.has_value(),
                         readingAnchor_ ? ReaderLog::wholeNumber(readingAnchor_->scrollTop)
                                        : std::int64_t{0});
    // The owner decides when (a background window waits until it is shown);
    // a reader on its own rebuilds at once.
    if (onWebContentProcessTerminated) {
        notifyOwner(onWebContentProcessTerminated, ProcessRecoveryAction::rebuild);
    } else {
        ensureWebView();
    }
}

void ReaderViewController::retryAfterCrashLoop() {
    lastTerminationAt_.reset();
    awaitingRecoveryStrategy_ = readingAnchor_.has_value();
    lastRecoveryStrategy_.reset();
    AppLog::bridge.info("用户重试重建 Web 内容进程：count=%ld", processTerminationCount_);
    if (onWebContentProcessTerminated) {
        notifyOwner(onWebContentProcessTerminated, ProcessRecoveryAction::retry);
    } else {
        ensureWebView();
    }
}

// ---- render ----------------------------------------------------------------

void ReaderViewController::render(std::string source, std::optional<RenderEnhancements> enhancements) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    source_ = std::make_shared<const std::string>(std::move(source));
    enhancements_ = enhancements;
    ++renderRevision_;
    if (bridge_) bridge_->setSourceRevision(renderRevision_);
    scheduleRender();
}

void ReaderViewController::scheduleRender() {
    if (!isReady_ || !source_) return;
    if (const auto ticket = renderQueue_.request()) tasks_.spawn(performRender(*ticket));
}

Task<void> ReaderViewController::performRender(RenderQueue::Ticket ticket) {
    std::exception_ptr failure;
    try {
        if (bridge_ && source_) {
            RenderRequestPayload request;
            request.source = source_;
            request.language = RendererLanguage::resolve(dependencies_.environment.preferredLocalizations());
            request.enhancements = enhancements_;
            request.background = !isWindowActive_;
            if (pendingScrollToSourceLine_) {
                request.scrollToSourceLine = pendingScrollToSourceLine_;
                pendingScrollToSourceLine_.reset();
                lastScrolledToSource_.reset();  // the report of this request replaces it
            } else {
                std::optional<ReadingAnchor> anchor = readingAnchor_;
                if (pageHasContent_) anchor = co_await captureAnchor(weak_from_this());
                if (anchor) {
                    lastAnchorRestored_.reset();
                    request.restoreAnchor = std::move(anchor);
                }
            }
            auto bridge = bridge_;
            if (!bridge) throw BridgeError::notAttached();
            if (!firstScreenMarks_.renderSentAt) firstScreenMarks_.renderSentAt = clock_.now();
            // A large source is written as JSON on the bridge's worker queue: shared, not copied here.
            const std::size_t sourceBytes = request.source->size();
            ReaderBridge::PayloadWriter payload = [request = std::move(request)] { return request.jsonValue(); };
            RenderedPayload reply = co_await bridge->request<RenderedPayload>(
                Type::render, std::move(payload), sourceBytes, Type::rendered);
            if (!handleRenderedReply(std::move(reply))) co_return;  // an owner's callback took the reader
        }
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::bridge.error("render 失败：%{private}s", ErrorText::describe(failure));
    if (renderQueue_.finish(ticket)) scheduleRender();
}

bool ReaderViewController::handleRenderedReply(RenderedPayload reply) {
    if (!firstScreenMarks_.renderedReceivedAt) {
        firstScreenMarks_.renderedReceivedAt = clock_.now();
        if (dependencies_.environment.prewarmer) dependencies_.environment.prewarmer->schedule();
    }
    // Kept whole, headings included: they are handed on, never copied.
    lastRendered_ = std::move(reply);
    const RenderedPayload& payload = *lastRendered_;
    lastImageSummary_ = payload.images;
    pageHasContent_ = true;
    const bool restored = payload.anchorRestored && !lastAnchorRestored_;
    if (restored) noteAnchorRestored(*payload.anchorRestored);
    if (payload.scrolledToSource) recordScrolledToSource(*payload.scrolledToSource);
    if (payload.diagrams && payload.diagrams->total != 0) {
        lastDiagramsProgress_.reset();
    } else {
        DiagramsProgressPayload finished;
        finished.mode = "inline";
        finished.inlineCount = 0;
        finished.isolated = 0;
        finished.complete = true;
        finished.diagramMs = 0;
        finished.maxFrameGapMs = 0;
        finished.frameCount = 0;
        lastDiagramsProgress_ = finished;
    }
    ReaderLog::rendered(payload, isWindowActive_);
    if (restored && !notifyOwner(onAnchorRestored, *lastAnchorRestored_)) return false;
    // Handed on by reference, never copied: valid while the callback runs.
    return notifyOwner(onRendered, lastRendered_->headings);
}

void ReaderViewController::recordScrolledToSource(const ScrolledToSourcePayload& report) {
    lastScrolledToSource_ = report;
    ReaderLog::scrolledToSource(report);
}

void ReaderViewController::noteAnchorRestored(const AnchorRestoredPayload& report) {
    lastAnchorRestored_ = report;
    if (awaitingRecoveryStrategy_) {
        awaitingRecoveryStrategy_ = false;
        lastRecoveryStrategy_ = report.strategy;
    }
    ReaderLog::anchorRestored(report);
}

void ReaderViewController::setWindowActive(bool active) {
    const bool wasActive = isWindowActive_;
    isWindowActive_ = active;
    if (active && !wasActive) retryTimedOutRenderIfNeeded();
}

void ReaderViewController::retryTimedOutRenderIfNeeded() {
    if (renderQueue_.isRunning()) return;
    if (!lastRendered_ || !lastRendered_->degraded || lastRendered_->degraded->reason != "timeout") {
        return;
    }
    if (timeoutRetriedRevision_ == renderRevision_) return;
    timeoutRetriedRevision_ = renderRevision_;
    ++timeoutRetryCount_;
    AppLog::bridge.info(
        "窗口回到活动状态：上次 render 解析超时降级，重渲染一次（sourceRevision %ld，累计 %ld 次）",
        renderRevision_, timeoutRetryCount_);
    scheduleRender();
}

Task<std::optional<ReadingAnchor>> ReaderViewController::captureReadingAnchor() {
    return captureAnchor(weak_from_this());
}

Task<std::optional<ReadingAnchor>> ReaderViewController::captureAnchor(Weak weak) {
    auto self = weak.lock();
    if (!self || !self->isReady_ || !self->pageHasContent_ || !self->bridge_) co_return std::nullopt;
    auto bridge = self->bridge_;
    self.reset();
    std::optional<ReadingAnchor> anchor;
    std::exception_ptr failure;
    try {
        auto reply = co_await pageRequest<AnchorPayload>(bridge, Type::captureAnchor, emptyObject(),
                                                         Type::anchor);
        anchor = std::move(reply.anchor);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) {
        AppLog::bridge.error("captureAnchor 失败：%{private}s", ErrorText::describe(failure));
        co_return std::nullopt;
    }
    if (!anchor) co_return std::nullopt;
    if (auto owner = weak.lock()) owner->readingAnchor_ = anchor;
    ReaderLog::capturedAnchor(*anchor);
    co_return anchor;
}

// ---- document location and diagrams --------------------------------------

void ReaderViewController::setDocumentLocation(std::optional<std::filesystem::path> location) {
    documentLocation_ = std::move(location);
    if (documentResourceHandler_) documentResourceHandler_->setDocumentLocation(documentLocation_);
}

void ReaderViewController::applyDocumentLocation() {
    if (!documentResourceHandler_) return;
    documentResourceHandler_->setDocumentLocation(documentLocation_);
    documentResourceHandler_->setAccessDeniedCallback(
        [weak = weak_from_this()](const std::string& documentID, const std::string& path) {
            auto self = weak.lock();
            if (!self || documentID != self->documentID_) return;
            self->notifyOwner(self->onResourceAccessDenied, path);
        });
}

Task<void> ReaderViewController::serveDiagramRequest(DiagramRequestPayload request) {
    if (!bridge_) co_return;
    auto service = dependencies_.environment.diagramService;
    // The diagram is wanted while the page that asked is still this reader's.
    const std::weak_ptr<ReaderBridge> asking = bridge_;
    const DiagramRenderService::StillWanted stillWanted = [weak = weak_from_this(), asking] {
        auto owner = weak.lock();
        auto bridge = asking.lock();
        return owner && bridge && owner->bridge_ == bridge && owner->isReady_;
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
    if (!self || !self->bridge_) throw BridgeError::notAttached();
    auto bridge = self->bridge_;
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
    if (!self || !self->bridge_) throw BridgeError::notAttached();
    auto bridge = self->bridge_;
    self.reset();
    co_return co_await pageRequest<FindResultPayload>(bridge, Type::clearFind, emptyObject(),
                                                      Type::findResult);
}

Task<ScrolledPayload> ReaderViewController::scrollToHeading(std::string id) {
    return performScroll(weak_from_this(), std::move(id));
}

Task<ScrolledPayload> ReaderViewController::performScroll(Weak weak, std::string id) {
    auto self = weak.lock();
    if (!self || !self->bridge_) throw BridgeError::notAttached();
    auto bridge = self->bridge_;
    self.reset();
    JSONValue::Object object;
    object.emplace("id", JSONValue::string(id));
    auto reply = co_await pageRequest<ScrolledPayload>(
        bridge, Type::scrollToHeading, JSONValue::object(std::move(object)), Type::scrolled);
    if (!reply.found) AppLog::bridge.error("scrollToHeading：页面里没有 id=%{private}s 的标题", id);
    co_return reply;
}

void ReaderViewController::focusPage() { dependencies_.host->focusPage(); }

void ReaderViewController::updateObscuredContentInsets() {
    if (!bridge_) return;
    // Only the banner covers the page: bars above the reader in the tab page
    // are outside the web view.
    sendViewportInsets(ViewportInsetsPayload{bannerShown_ ? bannerHeight : 0.0, 0.0});
}

void ReaderViewController::sendViewportInsets(ViewportInsetsPayload insets) {
    if (lastViewportInsets_ && lastViewportInsets_->top == insets.top &&
        lastViewportInsets_->bottom == insets.bottom) {
        return;
    }
    lastViewportInsets_ = insets;
    if (isReady_ && bridge_) tasks_.spawn(exchangeViewportInsets(bridge_, insets));
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
    anchorSnapshot_.spawn(snapshotAnchorAfter(delay));
}

Task<void> ReaderViewController::snapshotAnchorAfter(Clock::Duration delay) {
    co_await sleepFor(clock_, delay);
    // Once the wait is over a later schedule no longer cancels this capture.
    tasks_.spawn(takeAnchorSnapshot());
}

Task<void> ReaderViewController::takeAnchorSnapshot() {
    const auto anchor = co_await captureAnchor(weak_from_this());
    if (anchor) ++anchorSnapshotCount_;
}

// ---- page events ----------------------------------------------------------

void ReaderViewController::bridgeDidReceiveError(ReaderBridge&, const BridgeErrorPayload& error) {
    AppLog::bridge.error("渲染器错误 %{public}s：%{private}s", error.code, error.message);
}

void ReaderViewController::bridgeDidReportActiveHeading(ReaderBridge&,
                                                        const ActiveHeadingPayload& payload) {
    scheduleAnchorSnapshot(activeHeadingSnapshotDelay);
    notifyOwner(onActiveHeading, payload);
}

void ReaderViewController::bridgeDidReceiveLayoutReport(ReaderBridge&,
                                                        const LayoutReportPayload& payload) {
    lastLayoutReport_ = payload;
    if (firstScreenMarks_.renderedReceivedAt && !firstScreenMarks_.layoutReportAt) {
        firstScreenMarks_.layoutReportAt = clock_.now();
    }
    ReaderLog::layoutReport(payload);
    notifyOwner(onLayoutReport, payload);
}

void ReaderViewController::bridgeDidReportDiagramsProgress(ReaderBridge&,
                                                           const DiagramsProgressPayload& payload) {
    lastDiagramsProgress_ = payload;
    ReaderLog::diagramsProgress(payload);
    notifyOwner(onDiagramsProgress, payload);
}

void ReaderViewController::bridgeDidRequestDiagram(ReaderBridge&,
                                                   const DiagramRequestPayload& payload) {
    tasks_.spawn(serveDiagramRequest(payload));
}

void ReaderViewController::bridgeDidRequestCopy(ReaderBridge&, const CopyTextPayload& payload) {
    if (onCopyText) {
        notifyOwner(onCopyText, payload);
        return;
    }
    (void)dependencies_.environment.pasteboard->write(payload.text, payload.kind);
}

void ReaderViewController::bridgeDidRequestOpenLink(ReaderBridge&, const OpenLinkPayload& payload) {
    if (onOpenLink) {
        notifyOwner(onOpenLink, payload);
        return;
    }
    AppLog::actions.error("openLink 没有处理者，忽略：%{private}s", payload.href);
}

void ReaderViewController::bridgeDidRestoreAnchor(ReaderBridge&,
                                                  const AnchorRestoredPayload& payload) {
    if (lastAnchorRestored_) return;
    noteAnchorRestored(payload);
    notifyOwner(onAnchorRestored, payload);
}

// ---- appearance -------------------------------------------------------------

void ReaderViewController::setUnderPage(const ColorComponents& color) {
    lastUnderPageColor_ = color;
    dependencies_.host->setUnderPageColor(color);
}

ColorComponents ReaderViewController::underPageColor(const Theme& theme,
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

Task<std::optional<ThemeAppliedPayload>> ReaderViewController::applyTheme(
    SetThemePayload theme, SetBackgroundPayload background, ColorComponents underPage) {
    return performApplyTheme(weak_from_this(), std::move(theme), std::move(background), underPage);
}

Task<std::optional<ThemeAppliedPayload>> ReaderViewController::performApplyTheme(
    Weak weak, SetThemePayload theme, SetBackgroundPayload background, ColorComponents underPage) {
    auto self = weak.lock();
    if (!self) co_return std::nullopt;
    self->lastTheme_ = theme;
    self->lastThemeBackground_ = background;
    self->setUnderPage(underPage);
    if (!self->isReady_ || !self->bridge_) co_return std::nullopt;
    auto bridge = self->bridge_;
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

Task<BackgroundAppliedPayload> ReaderViewController::setBackground(
    Weak weak, SetBackgroundPayload background, std::optional<ColorComponents> underPage) {
    auto self = weak.lock();
    if (!self || !self->bridge_) throw BridgeError::notAttached();
    if (underPage) self->setUnderPage(*underPage);
    auto bridge = self->bridge_;
    self.reset();
    auto reply = co_await pageRequest<BackgroundAppliedPayload>(
        bridge, Type::setBackground, PayloadCodec::encode(background), Type::backgroundApplied);
    self = weak.lock();
    AppLog::bridge.info(
        "backgroundApplied page=%{public}s computed=%{public}s colorScheme=%{public}s "
        "underPage=%{public}s",
        reply.pageBackground, reply.computedBackground, reply.computedColorScheme,
        self ? self->dependencies_.host->underPageColorDescription() : std::string("-"));
    co_return reply;
}

Task<std::optional<AccessibilityAppliedPayload>> ReaderViewController::applyAccessibility(
    AccessibilityDisplayOptions options) {
    return performApplyAccessibility(weak_from_this(), options);
}

Task<std::optional<AccessibilityAppliedPayload>> ReaderViewController::performApplyAccessibility(
    Weak weak, AccessibilityDisplayOptions options) {
    auto self = weak.lock();
    if (!self) co_return std::nullopt;
    self->lastAccessibility_ = options;
    if (!self->isReady_ || !self->bridge_) co_return std::nullopt;
    auto bridge = self->bridge_;
    self.reset();
    auto reply = co_await pageRequest<AccessibilityAppliedPayload>(
        bridge, Type::setAccessibility, PayloadCodec::encode(options), Type::accessibilityApplied);
    AppLog::bridge.info(
        "accessibilityApplied reduceMotion=%{bool}d reduceTransparency=%{bool}d "
        "increaseContrast=%{bool}d",
        reply.reduceMotion, reply.reduceTransparency, reply.increaseContrast);
    co_return reply;
}

Task<std::optional<TypographyAppliedPayload>> ReaderViewController::applyTypography(
    SetTypographyPayload payload) {
    return performApplyTypography(weak_from_this(), std::move(payload));
}

Task<std::optional<TypographyAppliedPayload>> ReaderViewController::performApplyTypography(
    Weak weak, SetTypographyPayload payload) {
    auto self = weak.lock();
    if (!self) co_return std::nullopt;
    self->lastTypography_ = payload;
    if (!self->isReady_ || !self->bridge_) co_return std::nullopt;
    auto bridge = self->bridge_;
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

Task<void> ReaderViewController::applyAppearance(Theme theme, std::int64_t themeRevision,
                                                 AccessibilityDisplayOptions accessibility) {
    return performApplyAppearance(weak_from_this(), std::move(theme), themeRevision, accessibility);
}

Task<void> ReaderViewController::performApplyAppearance(Weak weak, Theme theme,
                                                        std::int64_t themeRevision,
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
        co_await performApplyAccessibility(weak, accessibility);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    // A failed accessibility push must not keep the theme from being
    // remembered: the next ready page would get the old one.
    if (failure) AppLog::document.error("应用主题 %{public}s 失败：%{private}s", themeID, ErrorText::describe(failure));
    failure = nullptr;
    try {
        co_await performApplyTheme(weak, payload, background, underPage);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::document.error("应用主题 %{public}s 失败：%{private}s", themeID, ErrorText::describe(failure));
}

Task<void> ReaderViewController::resendThemeIfNeeded() {
    std::exception_ptr failure;
    if (const auto accessibility = lastAccessibility_) {
        try {
            co_await performApplyAccessibility(weak_from_this(), *accessibility);
        } catch (...) {
            rethrowIfCancelled(std::current_exception());
            failure = std::current_exception();
        }
        if (failure) AppLog::bridge.error("补发辅助功能开关失败：%{private}s", ErrorText::describe(failure));
    }
    if (!lastTheme_ || !lastThemeBackground_ || !bridge_) co_return;
    const SetThemePayload theme = *lastTheme_;
    const SetBackgroundPayload background = *lastThemeBackground_;
    const ColorComponents underPage = lastUnderPageColor_.value_or(ColorComponents{1, 1, 1, 1});
    failure = nullptr;
    try {
        co_await performApplyTheme(weak_from_this(), theme, background, underPage);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::bridge.error("补发主题失败：%{private}s", ErrorText::describe(failure));
}

Task<void> ReaderViewController::resendTypographyIfNeeded() {
    if (!lastTypography_) co_return;
    const SetTypographyPayload typography = *lastTypography_;
    std::exception_ptr failure;
    try {
        co_await performApplyTypography(weak_from_this(), typography);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    if (failure) AppLog::bridge.error("补发排版失败：%{private}s", ErrorText::describe(failure));
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
    const std::optional<StatusPage>& page = crashLoopStatus_ ? crashLoopStatus_ : documentStatus_;
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

void ReaderViewController::showBanner(std::string message, std::string actionTitle,
                                      std::function<void()> onAction,
                                      std::function<void()> onDismiss) {
    bannerShown_ = true;
    dependencies_.host->showBanner(message, actionTitle, std::move(onAction), std::move(onDismiss));
    updateObscuredContentInsets();
    notifyOwner(onBannerVisibilityChange);
}

void ReaderViewController::hideBanner() {
    if (!bannerShown_) return;
    bannerShown_ = false;
    dependencies_.host->hideBanner();
    updateObscuredContentInsets();
    notifyOwner(onBannerVisibilityChange);
}

}  // namespace larkspin
