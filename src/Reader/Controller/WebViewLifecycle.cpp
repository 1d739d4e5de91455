#include "Reader/Controller/WebViewLifecycle.hpp"

#include <fmt/format.h>

#include <utility>

#include "Platform/Localization.hpp"
#include "Platform/LaunchTiming.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"

namespace larkspin {

WebViewLifecycle::WebViewLifecycle(std::string documentID, std::shared_ptr<ReaderHost> host,
                                   const ReaderEnvironment& environment, Clock& clock,
                                   WebViewLifecycleEvents& events)
    : documentID_(std::move(documentID)),
      host_(std::move(host)),
      environment_(environment),
      clock_(clock),
      events_(events) {}

WebViewLifecycle::~WebViewLifecycle() {
    *alive_ = false;
    if (bridge_) bridge_->teardown();
}

std::function<void()> WebViewLifecycle::guarded(void (WebViewLifecycle::*step)()) {
    return [this, alive = std::weak_ptr<bool>(alive_), step] {
        const auto flag = alive.lock();
        if (flag && *flag) (this->*step)();
    };
}

bool WebViewLifecycle::beginLoadingView() {
    if (viewLoaded_) return false;
    viewLoaded_ = true;
    return true;
}

void WebViewLifecycle::putFirstWebView() {
    if (auto spare = claimSpare()) {
        adoptPrewarmedWebView(std::move(*spare));
        return;
    }
    if (!prepareOwnSchemes()) return;
    installWebView();
    loadEntryPage();
}

void WebViewLifecycle::deferFirstWebView() {
    if (prepareOwnSchemes()) firstDeferred_ = true;
}

bool WebViewLifecycle::prepareOwnSchemes() {
    const auto& rendererFiles = environment_.rendererFiles;
    schemeHandler_ = rendererFiles ? rendererFiles->sibling() : nullptr;
    if (!schemeHandler_) {
        host_->showRendererMissing(L10n::text("reader.renderer_missing"));
        return false;
    }
    documentResourceHandler_ = DocumentResourceSchemeHandler::create(environment_.imageWorkers);
    applyDocumentLocation();
    return true;
}

std::optional<WebViewPrewarmer::Instance> WebViewLifecycle::claimSpare() {
    return environment_.prewarmer ? environment_.prewarmer->claim() : std::nullopt;
}

void WebViewLifecycle::installWebView() {
    if (!schemeHandler_ || !documentResourceHandler_) return;
    LaunchTiming::mark("网页视图创建");
    auto port = host_->installWebView(schemeHandler_, documentResourceHandler_,
                                      events_.startingUnderPageColor());
    bridge_ = events_.makeBridge();
    bridge_->attach(std::move(port));
    adoptedUnanswered_ = false;
    events_.webViewPutInPlace(false);
}

void WebViewLifecycle::adoptPrewarmedWebView(WebViewPrewarmer::Instance spare) {
    // The document's location goes to the spare's handler; the old handler
    // leaves with its web view.
    if (documentResourceHandler_ && documentResourceHandler_ != spare.documentResourceHandler) {
        documentResourceHandler_->setAccessDeniedCallback({});
    }
    schemeHandler_ = spare.schemeHandler;
    documentResourceHandler_ = spare.documentResourceHandler;
    applyDocumentLocation();
    LaunchTiming::mark("领用备用网页视图");
    host_->adoptWebView(spare.webView, events_.startingUnderPageColor());
    bridge_ = events_.makeBridge();
    bridge_->attachTakingOverFrom(*spare.bridge);
    adoptedUnanswered_ = true;
    events_.webViewPutInPlace(true);
    AppLog::bridge.info("领用预热的 WKWebView：documentID=%{public}s", documentID_);
    // The spare's page said "ready" before it was claimed: the handshake runs
    // on the next turn, unless the web view was replaced in between.
    tasks_.spawn(announceAdoptedReady(bridge_));
}

Task<void> WebViewLifecycle::announceAdoptedReady(std::shared_ptr<ReaderBridge> adopted) {
    if (bridge_ && bridge_ == adopted) events_.adoptedPageReady(*bridge_);
    co_return;
}

void WebViewLifecycle::loadEntryPage() {
    isReady_ = false;
    events_.entryPageLoading();
    if (!bridge_) return;
    LaunchTiming::mark("入口页开始加载");
    host_->loadEntryPage(AppResourceSchemeHandler::entryURL);
    entryLoadGuard_.spawn(guardEntryLoad(clock_.now() + entryLoadTimeout));
}

Task<void> WebViewLifecycle::guardEntryLoad(Clock::TimePoint due) {
    if (const auto left = due - clock_.now(); left > Clock::Duration::zero()) {
        co_await sleepFor(clock_, left);
    }
    host_->stopLoading();
    AppLog::bridge.error("首次导航失败：%{private}s",
                         fmt::format("入口页 {} 秒内没有载入完成", entryLoadTimeout.count()));
}

void WebViewLifecycle::discardWebView() {
    events_.webViewDiscarded();
    isReady_ = false;
    entryLoadGuard_.cancel();
    if (bridge_) bridge_->teardown();
    bridge_.reset();
    host_->discardWebView();
}

bool WebViewLifecycle::markReady(const ReaderBridge& bridge) {
    if (&bridge != bridge_.get()) return false;
    isReady_ = true;
    return true;
}

void WebViewLifecycle::pageAnswered(const ReaderBridge& bridge) {
    if (&bridge == bridge_.get()) adoptedUnanswered_ = false;
}

// ---- release, rebuild, process end -----------------------------------------

bool WebViewLifecycle::beginRelease() {
    if (!bridge_ || releasePending_) return false;
    releasePending_ = true;
    return true;
}

bool WebViewLifecycle::finishRelease() {
    if (!releasePending_ || !bridge_) {
        releasePending_ = false;  // a rebuild or a process end came first
        return false;
    }
    releasePending_ = false;
    discardWebView();
    ++releaseCount_;
    return true;
}

bool WebViewLifecycle::rebuild(const std::string& restoreAnchor, bool hasSource) {
    releasePending_ = false;  // a release still capturing its anchor discards nothing
    if (bridge_ || !schemeHandler_ || !viewLoaded_) return false;
    if (std::exchange(firstDeferred_, false)) {
        AppLog::bridge.info("标签首次显示，建立 WKWebView：documentID=%{public}s hasSource=%{bool}d",
                            documentID_, hasSource);
        putFirstWebView();
        return true;
    }
    if (isInCrashLoop_) {
        isInCrashLoop_ = false;
        crashLoopStatus_.reset();  // only its own page: the document's stays
        events_.crashLoopPageHidden();
    }
    ++rebuildCount_;
    AppLog::bridge.info("重建 WKWebView（第 %ld 次）：restoreAnchor=%{public}s hasSource=%{bool}d",
                        rebuildCount_, restoreAnchor, hasSource);
    if (auto spare = claimSpare()) {
        adoptPrewarmedWebView(std::move(*spare));
    } else {
        installWebView();
        loadEntryPage();
    }
    return true;
}

WebViewLifecycle::Termination WebViewLifecycle::processTerminated(std::string_view reason) {
    AppLog::bridge.error("Web 内容进程终止：reason=%{public}s", reason);
    if (bridge_ && std::exchange(adoptedUnanswered_, false)) {
        // The spare died with whatever ended before it (one kill of every web
        // process): its end is not this reader's, and a fresh web view, not
        // another spare, takes its place.
        AppLog::bridge.error("领用的备用 WKWebView 未及应答即终止，不计入本标签，换新的 WKWebView：documentID=%{public}s",
                             documentID_);
        releasePending_ = false;
        discardWebView();
        installWebView();
        loadEntryPage();
        return Termination::spareLost;
    }
    ++processTerminationCount_;
    const Clock::TimePoint now = clock_.now();
    const std::optional<Clock::Duration> sinceLast =
        lastTerminationAt_ ? std::optional(now - *lastTerminationAt_) : std::nullopt;
    lastTerminationAt_ = now;
    releasePending_ = false;
    if (bridge_) discardWebView();
    if (!sinceLast || *sinceLast >= crashLoopWindow) return Termination::rebuild;

    isInCrashLoop_ = true;
    AppLog::bridge.fault("Web 内容进程反复终止：count=%ld sinceLastMs=%ld 停止自动重建，等用户重试",
                         processTerminationCount_,
                         std::chrono::duration_cast<std::chrono::milliseconds>(*sinceLast).count());
    DocumentStatusContent content;
    content.title = L10n::text("status.crash_loop.title");
    content.detail = L10n::format(
        "status.crash_loop.detail",
        {std::to_string(crashLoopWindow.count()), std::to_string(processTerminationCount_)});
    content.actionTitle = L10n::text("common.retry");
    crashLoopStatus_ = StatusPage{std::move(content), guarded(&WebViewLifecycle::retryAfterCrashLoop)};
    return Termination::crashLoop;
}

void WebViewLifecycle::retryAfterCrashLoop() {
    lastTerminationAt_.reset();
    events_.crashLoopRetryRequested();
}

// ---- document location -------------------------------------------------------

void WebViewLifecycle::setDocumentLocation(std::optional<std::filesystem::path> location) {
    documentLocation_ = std::move(location);
    if (documentResourceHandler_) documentResourceHandler_->setDocumentLocation(documentLocation_);
}

void WebViewLifecycle::applyDocumentLocation() {
    if (!documentResourceHandler_) return;
    documentResourceHandler_->setDocumentLocation(documentLocation_);
    documentResourceHandler_->setAccessDeniedCallback(
        [this, alive = std::weak_ptr<bool>(alive_)](const std::string& documentID,
                                                    const std::string& path) {
            const auto flag = alive.lock();
            if (!flag || !*flag || documentID != documentID_) return;
            events_.documentResourceAccessDenied(path);
        });
}

}  // namespace larkspin
