#include "Reader/WebViewPrewarmer.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"
#include "Protocol/Navigation/NavigationPolicy.hpp"
#include "Protocol/Payloads/CapabilitiesPayload.hpp"
#include "Reader/Controller/PageRequest.hpp"
#include "Platform/Async/Cancellation.hpp"

namespace larkspin {

namespace {

std::int64_t wholeMilliseconds(Clock::Duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

}  // namespace

bool WebViewPrewarmer::isEnabledByConfiguration(bool isTestHost, std::optional<bool> preference) {
    if (isTestHost) return false;
    return preference.value_or(true);
}

std::shared_ptr<WebViewPrewarmer> WebViewPrewarmer::create(bool isEnabled, Dependencies dependencies) {
    return std::shared_ptr<WebViewPrewarmer>(new WebViewPrewarmer(isEnabled, std::move(dependencies)));
}

WebViewPrewarmer::WebViewPrewarmer(bool isEnabled, Dependencies dependencies)
    : isEnabled_(isEnabled),
      dependencies_(std::move(dependencies)),
      clock_(requiredClock(dependencies_)) {}

Clock& WebViewPrewarmer::requiredClock(const Dependencies& dependencies) {
    if (!dependencies.clock || !dependencies.makeWebView || !dependencies.imageWorkers) {
        throw std::invalid_argument("prewarmer without its clock, web view maker or image workers");
    }
    return *dependencies.clock;
}

WebViewPrewarmer::~WebViewPrewarmer() {
    for (auto* spare : {&pending_, &readyInstance_}) {
        if (!*spare) continue;
        (*spare)->bridge->teardown();
        (*spare)->webView->setEvents({});
        (*spare)->webView->stopLoading();
    }
}

WebViewPrewarmer::State WebViewPrewarmer::state() const {
    if (!isEnabled_) return State::disabled;
    if (pending_) return State::loading;
    if (readyInstance_) return State::ready;
    return State::idle;
}

void WebViewPrewarmer::schedule() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!isEnabled_ || readyInstance_ || pending_) return;
    tasks_.spawn(startSoon());
}

void WebViewPrewarmer::scheduleAfter(Clock::Duration delay) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!isEnabled_ || readyInstance_ || pending_) return;
    tasks_.spawn(restockAt(clock_.now() + delay));
}

Task<void> WebViewPrewarmer::startSoon() {
    startIfNeeded();
    co_return;
}

Task<void> WebViewPrewarmer::restockAt(Clock::TimePoint due) {
    if (const auto left = due - clock_.now(); left > Clock::Duration::zero()) {
        co_await sleepFor(clock_, left);
    }
    schedule();
}

void WebViewPrewarmer::startIfNeeded() {
    if (!isEnabled_ || readyInstance_ || pending_) return;
    auto schemeHandler = dependencies_.rendererFiles ? dependencies_.rendererFiles->sibling() : nullptr;
    if (!schemeHandler) {
        ++failureCount_;
        AppLog::prewarm.error("预热失败：渲染器资源缺失");
        return;
    }
    auto documentResourceHandler = DocumentResourceSchemeHandler::create(dependencies_.imageWorkers);
    auto webView = dependencies_.makeWebView(schemeHandler, documentResourceHandler);
    webView->setEvents(weak_from_this());
    auto bridge = ReaderBridge::create("prewarm", makeUUID());
    bridge->setDelegate(weak_from_this());
    bridge->attach(webView->bridgePort());
    const Clock::TimePoint startedAt = clock_.now();
    pending_ = Instance{webView, std::move(schemeHandler), std::move(documentResourceHandler),
                        std::move(bridge), startedAt};
    ++startCount_;
    webView->loadEntryPage(AppResourceSchemeHandler::entryURL);
    AppLog::prewarm.info("开始预热备用 WKWebView（第 %ld 次）", startCount_);
    readyGuard_.spawn(guardReady(webView, startedAt));
}

Task<void> WebViewPrewarmer::guardReady(std::weak_ptr<SpareWebView> view, Clock::TimePoint startedAt) {
    if (const auto left = startedAt + readyTimeout - clock_.now(); left > Clock::Duration::zero()) {
        co_await sleepFor(clock_, left);
    }
    const auto webView = view.lock();
    if (!webView || !pending_ || pending_->webView != webView) co_return;
    discard(*pending_,
            fmt::format("ready 超时（{} ms）", wholeMilliseconds(clock_.now() - startedAt)));
}

void WebViewPrewarmer::bridgeDidBecomeReady(ReaderBridge& bridge) {
    if (!pending_ || pending_->bridge.get() != &bridge || !readyGuard_.holdsTask()) return;
    readyGuard_.cancel();
    warming_.spawn(warmUp(pending_->bridge, pending_->webView));
}

Task<void> WebViewPrewarmer::warmUp(std::shared_ptr<ReaderBridge> bridge, std::weak_ptr<SpareWebView> view) {
    std::exception_ptr failure;
    try {
        co_await reader::pageRequest<CapabilitiesPayload>(bridge, BridgeMessageType::probe,
                                                          reader::emptyObject(),
                                                          BridgeMessageType::capabilities);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        failure = std::current_exception();
    }
    const auto webView = view.lock();
    if (!webView || !pending_ || pending_->webView != webView) co_return;
    if (failure) AppLog::prewarm.error("备用 WKWebView 的 probe 失败，解析 worker 未预热");
    Instance ready = std::move(*pending_);
    pending_.reset();
    ready.readyAt = clock_.now();
    readyInstance_ = std::move(ready);
    ++readyCount_;
    AppLog::prewarm.info("备用 WKWebView 已 ready（第 %ld 次）", readyCount_);
}

std::optional<WebViewPrewarmer::Instance> WebViewPrewarmer::claim() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!isEnabled_ || !readyInstance_) return std::nullopt;
    Instance spare = std::move(*readyInstance_);
    readyInstance_.reset();
    spare.webView->setEvents({});
    ++consumeCount_;
    scheduleAfter(restockDelay);
    AppLog::prewarm.info("领用备用 WKWebView（第 %ld 次），ready 后等了 %ld ms", consumeCount_,
                         wholeMilliseconds(clock_.now() - spare.readyAt));
    return spare;
}

void WebViewPrewarmer::discard(Instance instance, const std::string& reason) {
    if (pending_ && pending_->webView == instance.webView) pending_.reset();
    if (readyInstance_ && readyInstance_->webView == instance.webView) readyInstance_.reset();
    readyGuard_.cancel();
    warming_.cancel();
    instance.bridge->teardown();
    instance.webView->setEvents({});
    instance.webView->stopLoading();
    ++failureCount_;
    AppLog::prewarm.error("丢弃备用 WKWebView：%{private}s", reason);
    // Dropped on a later turn: this may run inside one of the web view's own
    // signals.
    MainThread::post([dropped = std::move(instance.webView)] {});
}

void WebViewPrewarmer::bridgeDidReceiveError(ReaderBridge&, const BridgeErrorPayload& error) {
    AppLog::prewarm.error("备用 WKWebView 报错 %{public}s：%{private}s", error.code, error.message);
}

bool WebViewPrewarmer::webViewShouldNavigate(const NavigationRequest& request) {
    const auto decision = NavigationPolicy::decideNavigation(request.url, request.isMainFrame,
                                                             request.hasTargetFrame, request.type);
    if (decision.kind == NavigationPolicy::NavigationDecision::Kind::allow) return true;
    AppLog::prewarm.error("备用 WKWebView 拦截导航（%{private}s）", decision.reason);
    return false;
}

void WebViewPrewarmer::webViewDidRefuseNewWindow(const std::optional<std::string>&) {
    AppLog::prewarm.error("备用 WKWebView 拦截新窗口请求");
}

void WebViewPrewarmer::webViewDidFailLoad(bool provisional, const std::string& description) {
    // Only the loading spare's entry page counts; the ready one's later
    // navigations are refused anyway.
    if (!pending_) return;
    discard(*pending_, (provisional ? "入口页加载失败：" : "入口页导航失败：") + description);
}

void WebViewPrewarmer::webViewProcessDidTerminate(std::string_view) {
    // The spare's bridge hears the process end from here (its port does not).
    if (pending_) {
        if (pending_->bridge) pending_->bridge->webProcessDidTerminate();
        discard(*pending_, "Web 内容进程终止（预热中）");
    } else if (readyInstance_) {
        if (readyInstance_->bridge) readyInstance_->bridge->webProcessDidTerminate();
        discard(*readyInstance_, "Web 内容进程终止（备用中）");
    }
}

}  // namespace larkspin
