#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Appearance/AccessibilityDisplayOptions.hpp"
#include "Appearance/HexColor.hpp"
#include "Appearance/Theme.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Protocol/Payloads/AccessibilityAppliedPayload.hpp"
#include "Protocol/Payloads/BackgroundAppliedPayload.hpp"
#include "Protocol/Payloads/CapabilitiesPayload.hpp"
#include "Protocol/Payloads/DiagramResultPayload.hpp"
#include "Protocol/Payloads/FindPayload.hpp"
#include "Protocol/Payloads/FindResultPayload.hpp"
#include "Protocol/Bridge/ReaderBridge.hpp"
#include "Protocol/Bridge/ReaderBridgeDelegate.hpp"
#include "Protocol/Payloads/ReadingAnchor.hpp"
#include "Protocol/Payloads/ReadingAnchorStrategy.hpp"
#include "Protocol/Payloads/RenderEnhancements.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"
#include "Protocol/Payloads/ScrolledPayload.hpp"
#include "Protocol/Payloads/SetBackgroundPayload.hpp"
#include "Protocol/Payloads/SetThemePayload.hpp"
#include "Protocol/Payloads/SetTypographyPayload.hpp"
#include "Protocol/Payloads/ThemeAppliedPayload.hpp"
#include "Protocol/Payloads/TypographyAppliedPayload.hpp"
#include "Protocol/Payloads/ViewportInsetsAppliedPayload.hpp"
#include "Protocol/Payloads/ViewportInsetsPayload.hpp"
#include "Protocol/Bridge/FindTarget.hpp"
#include "Reader/Controller/PageAppearance.hpp"
#include "Reader/Controller/CurrentPage.hpp"
#include "Reader/Controller/RenderSession.hpp"
#include "Reader/Controller/WebViewLifecycle.hpp"
#include "Reader/LinkReader.hpp"
#include "Reader/ProcessRecoveryAction.hpp"
#include "Reader/ReaderEnvironment.hpp"
#include "Reader/ReaderHost.hpp"
#include "Reader/ReaderOwner.hpp"

namespace larkspin {

class AppResourceSchemeHandler;
class DiagramRenderService;
class DocumentResourceSchemeHandler;
class PasteboardService;

// When the current web view reached each step of its first screen. A new
// record replaces the old one each time a web view is put in place.
struct FirstScreenMarks {
    using Instant = std::optional<Clock::TimePoint>;
    Instant webViewInstalledAt;
    Instant entryLoadStartedAt;
    Instant readyAt;
    Instant probeDoneAt;
    Instant themeDoneAt;
    Instant typographyDoneAt;
    Instant renderSentAt;
    Instant renderedReceivedAt;
    Instant layoutReportAt;
    bool usedPrewarmed = false;
};

// What the reader last heard and did, read by tests, benchmarks and logs;
// no caller decides anything from it. One copy per `diagnostics()` call.
struct ReaderDiagnostics {
    FirstScreenMarks firstScreenMarks;
    bool isRendering = false;
    bool pageHasContent = false;
    std::optional<CapabilitiesPayload> lastCapabilities;
    std::optional<RenderedPayload> lastRendered;
    std::optional<ImageSummary> lastImageSummary;
    std::optional<AnchorRestoredPayload> lastAnchorRestored;
    std::optional<ScrolledToSourcePayload> lastScrolledToSource;
    std::optional<LayoutReportPayload> lastLayoutReport;
    std::optional<DiagramsProgressPayload> lastDiagramsProgress;
    std::optional<ViewportInsetsPayload> lastViewportInsets;
    std::optional<ViewportInsetsAppliedPayload> lastViewportInsetsApplied;
    std::optional<SetThemePayload> lastTheme;
    std::optional<SetBackgroundPayload> lastThemeBackground;
    std::optional<ColorComponents> lastUnderPageColor;
    std::optional<AccessibilityDisplayOptions> lastAccessibility;
    std::optional<SetTypographyPayload> lastTypography;
    std::optional<TypographyAppliedPayload> lastTypographyApplied;
    std::int64_t processTerminationCount = 0;
    std::int64_t releaseCount = 0;
    std::int64_t rebuildCount = 0;
    std::int64_t alertCount = 0;
    std::int64_t anchorSnapshotCount = 0;
    std::int64_t timeoutRetryCount = 0;
    bool isInCrashLoop = false;
    bool isReleasePending = false;
    // The first web view waits for the page to be shown.
    bool isFirstWebViewDeferred = false;
    bool isAwaitingRecoveryStrategy = false;
    // How the page restored the anchor after the last crash rebuild.
    std::optional<ReadingAnchorStrategy> lastRecoveryStrategy;
    // The current web view's handler of the document's images.
    std::shared_ptr<DocumentResourceSchemeHandler> documentResourceHandler;
};

// The reading surface of one document: it owns the web view that shows the
// rendered document (through its `ReaderHost`), the bridge bound to it and
// the two URL-scheme handlers, loads the renderer's entry page, completes
// the ready handshake, pushes the appearance, renders the document's text
// one request at a time, keeps the reading position, answers the page's
// events and shows the status view and the banner. It gives its web view
// back and rebuilds it (taking the prewarmed spare when there is one), and
// recovers from the end of its web content process, stopping with a retry
// page when the process ends twice within 3 s. It is the find bar's target
// and the link opener's reader.
//
// It includes no GTK or WebKit header: the widgets are behind `ReaderHost`
// and the web view behind `ReaderBridgePort`, so that tests drive it with
// fakes and a manual clock. Owned by a shared_ptr; its own tasks end with it
// (a task scope), and the requests others await hold it weakly. Main thread
// only.
//
// It is the face of three parts it owns and wires together: the web view's
// lifecycle (`WebViewLifecycle`), the page's appearance (`PageAppearance`)
// and the render session (`RenderSession`). The parts know one another only
// through it: it answers their questions about the page (`CurrentPage`) and
// hears what they report; the page's events, the requests, the handshake,
// the overlays and the owner's callbacks stay here.
class ReaderViewController final : public ReaderBridgeDelegate,
                                   public ReaderHostEvents,
                                   public FindTarget,
                                   public LinkReader,
                                   private CurrentPage,
                                   private WebViewLifecycleEvents,
                                   private RenderSessionEvents,
                                   public std::enable_shared_from_this<ReaderViewController> {
public:
    using ProcessRecoveryAction = larkspin::ProcessRecoveryAction;

    // The reader's widgets, the process's services and its owner (the host,
    // the owner and the environment's clock, pasteboard, language list and
    // theme source are required: `create` throws std::invalid_argument
    // without them). The owner is held weakly: it owns the reader. The
    // prewarmer is told to prepare the next spare at the first reply of each
    // web view.
    struct Dependencies {
        std::shared_ptr<ReaderHost> host;
        ReaderEnvironment environment;
        std::weak_ptr<ReaderOwner> owner;
    };

    // How long the entry page may take to load before it is stopped.
    static constexpr std::chrono::seconds entryLoadTimeout = WebViewLifecycle::entryLoadTimeout;
    static constexpr std::chrono::milliseconds activeHeadingSnapshotDelay{500};
    // Two process ends closer together than this stop the automatic rebuild.
    static constexpr std::chrono::seconds crashLoopWindow = WebViewLifecycle::crashLoopWindow;

    static std::shared_ptr<ReaderViewController> create(std::string documentID,
                                                         Dependencies dependencies);
    ~ReaderViewController() override;
    ReaderViewController(const ReaderViewController&) = delete;
    ReaderViewController& operator=(const ReaderViewController&) = delete;

    // When the view's first web view is made.
    enum class FirstWebView {
        now,        // at once
        whenShown,  // at the first `ensureWebView`: the page is shown
    };
    // Builds the view: the renderer-missing label, the prewarmed spare, or a
    // fresh web view loading the entry page (with `whenShown`, that web view
    // waits for `ensureWebView`; renders asked for meanwhile keep their text
    // and go to the page once it is ready). Once.
    void loadView(FirstWebView first = FirstWebView::now);

    // ---- release, rebuild, crash recovery ----
    // Captures the reading anchor, then gives the web view back. False when
    // there was none, a release already waits, or a rebuild or a process end
    // came during the capture.
    Task<bool> releaseWebView();
    // Builds a web view again after a release or a process end (the spare
    // when one is ready), or the first one when it waited for the page to be
    // shown; the next render restores the reading anchor. False when one
    // exists or the view has no renderer files or is not loaded.
    bool ensureWebView();

    // ---- render ----
    void render(std::string source, std::optional<RenderEnhancements> enhancements = std::nullopt);
    // The same with a document's text shared, not copied (the model's).
    void render(std::shared_ptr<const std::string> source,
                std::optional<RenderEnhancements> enhancements = std::nullopt);
    bool isWindowActive() const { return session_->isWindowActive(); }
    // Whether the reader's page is the key page (its window active and the
    // page selected in it), set by the page. A change to true re-renders a
    // text whose parse timed out, once per revision.
    void setWindowActive(bool active);
    // A source line the next render scrolls to (leaving editing mode).
    void setPendingScrollToSourceLine(std::optional<std::int64_t> line) {
        session_->setPendingScrollToSourceLine(line);
    }
    Task<std::optional<ReadingAnchor>> captureReadingAnchor();
    // Where the document lives, for its relative image paths, pushed by the
    // document on open, move and save-as; the reader hands it on to the
    // handler of each web view it installs or adopts.
    void setDocumentLocation(std::optional<std::filesystem::path> location);

    // ---- requests (the find bar's target, the link opener's reader) ----
    Task<FindResultPayload> find(FindPayload payload) override;
    Task<FindResultPayload> clearFind() override;
    void focusPage() override;
    // Runs the selection script in the page's own world through the host.
    Task<std::string> selectedText() override;
    Task<ScrolledPayload> scrollToHeading(std::string id) override;
    void sendViewportInsets(ViewportInsetsPayload insets);
    // The page's covered top edge (the banner's 32 points or 0) sent to it.
    void updateObscuredContentInsets();
    void scheduleAnchorSnapshot(Clock::Duration delay);

    // ---- appearance ----
    Task<std::optional<ThemeAppliedPayload>> applyTheme(SetThemePayload theme,
                                                        SetBackgroundPayload background,
                                                        ColorComponents underPage);
    Task<std::optional<AccessibilityAppliedPayload>> applyAccessibility(
        AccessibilityDisplayOptions options);
    Task<std::optional<TypographyAppliedPayload>> applyTypography(SetTypographyPayload payload);
    // The window's theme push: the accessibility options, then the theme
    // with its background and under-page colour. A failed accessibility push
    // is logged and the theme is still applied; failures are logged.
    Task<void> applyAppearance(Theme theme, std::int64_t themeRevision,
                               AccessibilityDisplayOptions accessibility);
    // The colour behind the page: the theme background's solid colour when a
    // solid background is preferred or there is no gradient, else the
    // gradient stop with the lowest position; magenta when it does not parse.
    static ColorComponents underPageColor(const Theme& theme,
                                          const AccessibilityDisplayOptions& accessibility);

    // ---- overlays ----
    // The document's own status page (a restricted preview, …). The reader's
    // crash-loop page has a slot of its own and covers it while it is up;
    // a rebuild hides only the crash-loop page.
    void showDocumentStatus(DocumentStatusContent content, std::function<void()> onAction = {});
    void hideDocumentStatus();
    // Banners: the one shown is the latest; a writer's hide takes away only
    // its own (a late "got it" leaves a newer banner up). hideBanner() hides
    // whatever is shown.
    BannerID showBanner(std::string message, std::string actionTitle,
                        std::function<void()> onAction, std::function<void()> onDismiss) override;
    void hideBanner(BannerID banner) override;
    void hideBanner();
    bool isStatusShown() const { return documentStatus_ || lifecycle_.crashLoopStatus(); }
    bool isBannerShown() const { return shownBanner_ != 0; }

    // ---- state ----
    const std::string& documentID() const { return documentID_; }
    bool hasWebView() const override { return lifecycle_.bridge() != nullptr; }
    const std::shared_ptr<ReaderBridge>& bridge() const { return lifecycle_.bridge(); }
    bool isReady() const { return lifecycle_.isReady(); }
    // The web view in place has answered a render of its own: a page just
    // rebuilt, or still loading, shows nothing yet.
    bool showsRenderedPage() const { return lifecycle_.isReady() && session_->pageHasContent(); }
    // Web content process ends so far (each one counts, the spare's never).
    std::int64_t processTerminationCount() const { return lifecycle_.processTerminationCount(); }
    // The first web view waits for the page to be shown (`ensureWebView`).
    bool isFirstWebViewDeferred() const { return lifecycle_.isFirstWebViewDeferred(); }
    // The reader's count of render calls (sent in every envelope); not the
    // document model's source revision.
    std::int64_t renderRevision() const { return session_->renderRevision(); }
    const std::shared_ptr<const std::string>& source() const { return session_->source(); }
    const std::optional<RenderEnhancements>& enhancements() const {
        return session_->enhancements();
    }
    const std::vector<BridgeHeading>& lastHeadings() const {
        static const std::vector<BridgeHeading> none;
        const auto& rendered = session_->lastRendered();
        return rendered ? rendered->headings : none;
    }
    // The page's report of the reading position it restored, since the last
    // render that asked for one.
    const std::optional<AnchorRestoredPayload>& lastAnchorRestored() const {
        return session_->lastAnchorRestored();
    }
    // The page's last "rendered" reply (its headings and blocks).
    const std::optional<RenderedPayload>& lastRendered() const { return session_->lastRendered(); }
    const std::optional<ReadingAnchor>& readingAnchor() const { return session_->readingAnchor(); }
    void setReadingAnchor(std::optional<ReadingAnchor> anchor) {
        session_->setReadingAnchor(std::move(anchor));
    }
    ReaderDiagnostics diagnostics() const;

    // ---- ReaderBridgeDelegate ----
    void bridgeDidBecomeReady(ReaderBridge& bridge) override;
    void bridgeDidReceiveError(ReaderBridge& bridge, const BridgeErrorPayload& error) override;
    void bridgeDidReportActiveHeading(ReaderBridge&, const ActiveHeadingPayload& payload) override;
    void bridgeDidReceiveLayoutReport(ReaderBridge&, const LayoutReportPayload& payload) override;
    void bridgeDidReportDiagramsProgress(ReaderBridge&,
                                         const DiagramsProgressPayload& payload) override;
    void bridgeDidRequestDiagram(ReaderBridge&, const DiagramRequestPayload& payload) override;
    void bridgeDidRequestCopy(ReaderBridge&, const CopyTextPayload& payload) override;
    void bridgeDidRequestOpenLink(ReaderBridge&, const OpenLinkPayload& payload) override;
    void bridgeDidRestoreAnchor(ReaderBridge&, const AnchorRestoredPayload& payload) override;

    // ---- ReaderHostEvents ----
    bool webViewShouldNavigate(const NavigationRequest& request) override;
    void webViewDidFinishLoad() override;
    void webViewDidFailLoad(bool provisional, const std::string& description) override;
    void webViewProcessDidTerminate(std::string_view reason) override;
    void webViewDidIgnorePanel(ScriptPanel panel, const std::string& message) override;
    void webViewDidRefuseNewWindow(const std::optional<std::string>& url) override;

private:
    using Weak = std::weak_ptr<ReaderViewController>;
    using StatusPage = WebViewLifecycle::StatusPage;

    ReaderViewController(std::string documentID, Dependencies dependencies);
    static Clock& requiredClock(const Dependencies& dependencies);

    // ---- CurrentPage ----
    std::shared_ptr<ReaderBridge> pageBridge() const override { return lifecycle_.bridge(); }
    bool isPageReady() const override { return lifecycle_.isReady(); }

    // ---- WebViewLifecycleEvents ----
    std::shared_ptr<ReaderBridge> makeBridge() override;
    std::optional<ColorComponents> startingUnderPageColor() const override;
    void webViewPutInPlace(bool adopted) override;
    void entryPageLoading() override;
    void webViewDiscarded() override;
    void adoptedPageReady(ReaderBridge& bridge) override;
    void crashLoopPageHidden() override;
    void crashLoopRetryRequested() override;
    void documentResourceAccessDenied(const std::string& path) override;

    // ---- RenderSessionEvents ----
    void renderWillBeSent() override;
    void renderedReplyReceived() override;
    bool rendered(const RenderedPayload& reply) override;

    // The owner decides the rebuild after a process end or a retry.
    void recoverAfterProcessEnd(ProcessRecoveryAction action);
    Task<void> runHandshakeProbe();
    void sendHandshakeSequence();
    Task<void> resendThemeAndMark();
    Task<void> resendTypographyAndMark();
    Task<void> exchangeViewportInsets(std::shared_ptr<ReaderBridge> bridge,
                                      ViewportInsetsPayload insets);
    Task<void> serveDiagramRequest(DiagramRequestPayload request);
    void presentStatus();

    // Tells the owner, whose handler may destroy the reader: false when it
    // did, and the caller then returns at once without touching a member.
    // An owner gone (its page ended) hears nothing.
    template <typename... Params, typename... Args>
    bool notifyOwner(void (ReaderOwner::*event)(Params...), const Args&... args) {
        const std::shared_ptr<ReaderOwner> owner = dependencies_.owner.lock();
        if (!owner) return true;
        const std::shared_ptr<bool> alive = alive_;
        ((*owner).*event)(args...);
        return *alive;
    }

    // Work that others await: it holds the reader weakly.
    static Task<bool> performRelease(Weak weak);
    static Task<FindResultPayload> performFind(Weak weak, FindPayload payload);
    static Task<FindResultPayload> performClearFind(Weak weak);
    static Task<std::string> performSelectedText(Weak weak);
    static Task<ScrolledPayload> performScroll(Weak weak, std::string id);

    const std::string documentID_;
    Dependencies dependencies_;
    Clock& clock_;

    std::optional<LayoutReportPayload> lastLayoutReport_;
    std::optional<StatusPage> documentStatus_;  // the document's writers
    BannerID lastBannerID_ = 0;
    BannerID shownBanner_ = 0;  // 0: none
    std::optional<CapabilitiesPayload> lastCapabilities_;
    std::optional<ViewportInsetsPayload> lastViewportInsets_;
    std::optional<ViewportInsetsAppliedPayload> lastViewportInsetsApplied_;
    FirstScreenMarks firstScreenMarks_;
    std::int64_t alertCount_ = 0;

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // The parts: each holds this reader's interfaces, never another part,
    // and ends before the reader's own state.
    const std::shared_ptr<PageAppearance> appearance_;
    const std::shared_ptr<RenderSession> session_;
    WebViewLifecycle lifecycle_;
    TaskScope tasks_;  // last: the reader's own tasks end first
};

}  // namespace larkspin
