#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Protocol/Bridge/ReaderBridge.hpp"
#include "Protocol/Bridge/ReaderBridgeDelegate.hpp"
#include "Reader/ReaderHost.hpp"

namespace larkspin {

class AppResourceSchemeHandler;
class DocumentResourceSchemeHandler;
class ResourceWorkers;

// Keeps one spare reader web view that has loaded the renderer's entry page,
// said "ready" and answered a probe (which the page answers once its parse
// worker has started and parsed its warm-up text), so that the next reader
// needing a web view adopts it at once and parses at once. A spare starts on
// a later turn after `schedule()`, counts as failed when it has not said
// "ready" within 2 s, when its entry page fails to load or when its web
// process ends (a failed probe only leaves its worker cold), and is handed
// over by `claim()`, after which the next one is started 1 s later. Only
// `schedule()` ever starts one.
//
// Deciding code only: the web view comes from `makeWebView`, timers read the
// injected clock. Main thread. Create with `create`.
class WebViewPrewarmer final : public ReaderBridgeDelegate,
                              public ReaderHostEvents,
                              public std::enable_shared_from_this<WebViewPrewarmer> {
public:
    // Everything a reader needs to adopt the spare. Two instances are the
    // same spare when their web view is the same object.
    struct Instance {
        std::shared_ptr<SpareWebView> webView;
        std::shared_ptr<AppResourceSchemeHandler> schemeHandler;
        std::shared_ptr<DocumentResourceSchemeHandler> documentResourceHandler;
        std::shared_ptr<ReaderBridge> bridge;  // document "prewarm", a session of its own
        Clock::TimePoint readyAt;              // the start, then the moment it said "ready"
    };

    enum class State { disabled, idle, loading, ready };

    struct Dependencies {
        // Makes the spare's web view routed to these handlers.
        std::function<std::shared_ptr<SpareWebView>(std::shared_ptr<AppResourceSchemeHandler>,
                                                    std::shared_ptr<DocumentResourceSchemeHandler>)>
            makeWebView;
        // The process's renderer files (each spare serves them through a
        // sibling handler); none when they are missing.
        std::shared_ptr<AppResourceSchemeHandler> rendererFiles;
        // Where a spare's handler reads the document's images; required.
        std::shared_ptr<ResourceWorkers> imageWorkers;
        Clock* clock = nullptr;  // required
    };

    static constexpr std::chrono::seconds readyTimeout{2};
    static constexpr std::chrono::seconds restockDelay{1};
    // A page's first render asks for the spare this long after its reply:
    // the page is still putting highlighting, math and the outline on
    // screen, and a web process starting beside it slows that down.
    static constexpr std::chrono::seconds afterFirstRenderDelay{2};
    static constexpr const char* preferenceKey = "MDWebViewPrewarm";

    // Off in a test host (`isTestHost()`),
    // else as "MDWebViewPrewarm" says, on by default.
    static bool isEnabledByConfiguration(bool isTestHost, std::optional<bool> preference);
    // Throws std::invalid_argument without a clock or a web view maker.
    static std::shared_ptr<WebViewPrewarmer> create(bool isEnabled, Dependencies dependencies);
    ~WebViewPrewarmer() override;
    WebViewPrewarmer(const WebViewPrewarmer&) = delete;
    WebViewPrewarmer& operator=(const WebViewPrewarmer&) = delete;

    // Asks for a spare soon: queued for a later turn when enabled and none
    // is loading or ready; otherwise nothing.
    void schedule();
    // The same, `delay` from now (a claim restocks this way, after
    // `restockDelay`).
    void scheduleAfter(Clock::Duration delay);
    // The ready spare, now the caller's (its events are disconnected); none
    // when disabled or when no spare is ready.
    std::optional<Instance> claim();

    bool isEnabled() const { return isEnabled_; }
    State state() const;
    std::int64_t startCount() const { return startCount_; }
    std::int64_t failureCount() const { return failureCount_; }

    // ---- the spare's bridge ----
    void bridgeDidBecomeReady(ReaderBridge& bridge) override;
    void bridgeDidReceiveError(ReaderBridge& bridge, const BridgeErrorPayload& error) override;
    // ---- the spare's web view ----
    bool webViewShouldNavigate(const NavigationRequest& request) override;
    void webViewDidFinishLoad() override {}
    void webViewDidFailLoad(bool provisional, const std::string& description) override;
    void webViewProcessDidTerminate(std::string_view reason) override;
    void webViewDidRefuseNewWindow(const std::optional<std::string>& url) override;

private:
    WebViewPrewarmer(bool isEnabled, Dependencies dependencies);
    static Clock& requiredClock(const Dependencies& dependencies);

    Task<void> startSoon();
    Task<void> restockAt(Clock::TimePoint due);
    void startIfNeeded();
    Task<void> guardReady(std::weak_ptr<SpareWebView> view, Clock::TimePoint startedAt);
    // Probes the page that said "ready", then makes it the ready spare.
    Task<void> warmUp(std::shared_ptr<ReaderBridge> bridge, std::weak_ptr<SpareWebView> view);
    // Drops the spare as a failure: it is the pending or the ready one.
    void discard(Instance instance, const std::string& reason);

    const bool isEnabled_;
    Dependencies dependencies_;
    Clock& clock_;
    std::optional<Instance> readyInstance_;
    std::optional<Instance> pending_;
    std::int64_t startCount_ = 0;
    std::int64_t readyCount_ = 0;
    std::int64_t consumeCount_ = 0;
    std::int64_t failureCount_ = 0;
    TaskSlot readyGuard_;
    TaskSlot warming_;  // the probe of the pending spare that said "ready"
    TaskScope tasks_;  // last: its tasks end first
};

}  // namespace larkspin
