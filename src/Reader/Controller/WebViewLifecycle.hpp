#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Appearance/HexColor.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Protocol/Bridge/ReaderBridge.hpp"
#include "Reader/ReaderEnvironment.hpp"
#include "Reader/ReaderHost.hpp"
#include "Reader/WebViewPrewarmer.hpp"

namespace larkspin {

class AppResourceSchemeHandler;
class DocumentResourceSchemeHandler;

// What the lifecycle tells the reader that owns it. Each is called on the
// main thread, inside the lifecycle's step.
class WebViewLifecycleEvents {
public:
    virtual ~WebViewLifecycleEvents() = default;
    // A bridge for the web view about to be put in place, its delegate and
    // source revision set.
    virtual std::shared_ptr<ReaderBridge> makeBridge() = 0;
    // The colour behind the page a new web view starts with.
    virtual std::optional<ColorComponents> startingUnderPageColor() const = 0;
    // A web view was put in place (`adopted`: the prewarmed spare).
    virtual void webViewPutInPlace(bool adopted) = 0;
    // The entry page starts loading: the page has no content yet.
    virtual void entryPageLoading() = 0;
    // The web view was given back: what belonged to its page goes with it.
    virtual void webViewDiscarded() = 0;
    // The adopted spare's page said "ready" before it was claimed.
    virtual void adoptedPageReady(ReaderBridge& bridge) = 0;
    // The crash-loop page was taken down by a rebuild.
    virtual void crashLoopPageHidden() = 0;
    // The user pressed retry on the crash-loop page.
    virtual void crashLoopRetryRequested() = 0;
    // The page asked for a file of the document's folder it may not read.
    virtual void documentResourceAccessDenied(const std::string& path) = 0;
};

// The life of one reader's web view: the first one (the spare or a fresh one
// loading the entry page), its release, its rebuild and the end of its web
// content process. It counts process ends and stops rebuilding when two come
// within `crashLoopWindow` (its crash-loop status page waits for a retry),
// guards the entry page's load with a time-out, and hands the document's
// location to the image handler of each web view it puts in place. Plain
// C++ behind `ReaderHost`; the reader owns it and outlives it. Main thread.
class WebViewLifecycle {
public:
    static constexpr std::chrono::seconds entryLoadTimeout{60};
    static constexpr std::chrono::seconds crashLoopWindow{3};

    // How a process end is answered: a rebuild left to the owner, the
    // crash-loop page, or none of the reader's own (`spareLost`: the adopted
    // spare's process ended before its page answered the reader, and a
    // fresh web view took its place at once).
    enum class Termination { rebuild, crashLoop, spareLost };

    struct StatusPage {
        DocumentStatusContent content;
        std::function<void()> onAction;
    };

    WebViewLifecycle(std::string documentID, std::shared_ptr<ReaderHost> host,
                     const ReaderEnvironment& environment, Clock& clock,
                     WebViewLifecycleEvents& events);
    ~WebViewLifecycle();
    WebViewLifecycle(const WebViewLifecycle&) = delete;
    WebViewLifecycle& operator=(const WebViewLifecycle&) = delete;

    // Marks the view loaded: false when it already was.
    bool beginLoadingView();
    // The view's first web view: the spare, or a fresh one loading the entry
    // page; the renderer-missing label without renderer files.
    void putFirstWebView();
    // The view without a web view yet: the handlers are made (or the
    // renderer-missing label shown) and the first web view waits for
    // `rebuild`, the page's first showing. A tab never shown costs no web
    // content process.
    void deferFirstWebView();

    // A release starts: false without a web view or when one already waits.
    bool beginRelease();
    // The release's anchor is captured: gives the web view back, false when
    // a rebuild or a process end came in between.
    bool finishRelease();
    // A web view again (the spare when one is ready), or the first one when
    // it was deferred (not counted as a rebuild). False when one exists, the
    // view is not loaded or has no renderer files. `restoreAnchor` and
    // `hasSource` only go to the log.
    bool rebuild(const std::string& restoreAnchor, bool hasSource);
    // The web content process ended (the web view is given back).
    Termination processTerminated(std::string_view reason);

    // The page said "ready"; false when `bridge` is not the current one.
    bool markReady(const ReaderBridge& bridge);
    // The current page answered a request of the reader's: an adopted spare
    // is alive, and the end of its process from now on is the reader's.
    void pageAnswered(const ReaderBridge& bridge);
    // The entry page loaded or failed: its guard stands down.
    void entryLoadEnded() { entryLoadGuard_.cancel(); }
    void setDocumentLocation(std::optional<std::filesystem::path> location);

    const std::shared_ptr<ReaderBridge>& bridge() const { return bridge_; }
    bool isReady() const { return isReady_; }
    const std::optional<StatusPage>& crashLoopStatus() const { return crashLoopStatus_; }
    bool isInCrashLoop() const { return isInCrashLoop_; }
    bool isReleasePending() const { return releasePending_; }
    // The first web view waits for the page to be shown.
    bool isFirstWebViewDeferred() const { return firstDeferred_; }
    std::int64_t processTerminationCount() const { return processTerminationCount_; }
    std::int64_t releaseCount() const { return releaseCount_; }
    std::int64_t rebuildCount() const { return rebuildCount_; }
    const std::shared_ptr<DocumentResourceSchemeHandler>& documentResourceHandler() const {
        return documentResourceHandler_;
    }

private:
    std::optional<WebViewPrewarmer::Instance> claimSpare();
    void installWebView();
    void adoptPrewarmedWebView(WebViewPrewarmer::Instance spare);
    void loadEntryPage();
    void discardWebView();
    void applyDocumentLocation();
    // The scheme handlers of a web view this reader makes itself; false, with
    // the "renderer missing" page shown, when the reading page's files are not
    // there.
    bool prepareOwnSchemes();
    void retryAfterCrashLoop();
    // A callback handed out of the lifecycle that does nothing once it is gone.
    std::function<void()> guarded(void (WebViewLifecycle::*step)());

    Task<void> announceAdoptedReady(std::shared_ptr<ReaderBridge> adopted);
    Task<void> guardEntryLoad(Clock::TimePoint due);

    const std::string documentID_;
    const std::shared_ptr<ReaderHost> host_;
    const ReaderEnvironment& environment_;
    Clock& clock_;
    WebViewLifecycleEvents& events_;

    bool viewLoaded_ = false;
    bool firstDeferred_ = false;
    std::shared_ptr<ReaderBridge> bridge_;
    std::shared_ptr<AppResourceSchemeHandler> schemeHandler_;
    std::shared_ptr<DocumentResourceSchemeHandler> documentResourceHandler_;
    std::optional<std::filesystem::path> documentLocation_;
    bool isReady_ = false;
    bool releasePending_ = false;
    std::int64_t processTerminationCount_ = 0;
    std::int64_t releaseCount_ = 0;
    std::int64_t rebuildCount_ = 0;
    std::optional<Clock::TimePoint> lastTerminationAt_;
    // The ends counted since the last retry that lie within the crash-loop
    // window of the latest one: what the crash-loop page counts.
    std::vector<Clock::TimePoint> recentTerminations_;
    bool isInCrashLoop_ = false;
    std::optional<StatusPage> crashLoopStatus_;
    // The web view in place is an adopted spare whose page has not answered
    // the reader yet: a process end now is the spare's (one kill may take
    // the reader's process and the spare's together).
    bool adoptedUnanswered_ = false;

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    TaskSlot entryLoadGuard_;
    TaskScope tasks_;  // last: its tasks end first
};

}  // namespace larkspin
