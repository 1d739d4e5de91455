#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Protocol/Payloads/AnchorRestoredPayload.hpp"
#include "Protocol/Payloads/DiagramsProgressPayload.hpp"
#include "Protocol/Payloads/ReadingAnchor.hpp"
#include "Protocol/Payloads/ReadingAnchorStrategy.hpp"
#include "Protocol/Payloads/RenderEnhancements.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"
#include "Reader/Controller/CurrentPage.hpp"
#include "Reader/RenderQueue.hpp"

namespace larkspin {

// What the render session tells the reader that owns it. `rendered` hands
// the reply on to the reader's owner and answers false when that owner
// destroyed the reader (and with it the session).
class RenderSessionEvents {
public:
    virtual ~RenderSessionEvents() = default;
    // A render request is about to be sent.
    virtual void renderWillBeSent() = 0;
    // The page answered a render (a "rendered" reply, an error or a reply of
    // another type), before the session looks at the answer.
    virtual void renderedReplyReceived() = 0;
    virtual bool rendered(const RenderedPayload& reply) = 0;
};

// The document's text on the page: one render at a time with one follow-up,
// the reading anchor (captured before a render, on a debounced snapshot and
// before a release; restored by the next render), how the page restored it
// after a process end, and one more render when a window comes back with a
// text whose parse timed out. Its anchor capture is awaited by others, so it
// holds the session weakly; the reader owns it (a shared_ptr) and outlives
// it. Plain C++, main thread.
class RenderSession : public std::enable_shared_from_this<RenderSession> {
public:
    using Weak = std::weak_ptr<RenderSession>;
    using Languages = std::function<std::vector<std::string>()>;

    RenderSession(const CurrentPage& page, RenderSessionEvents& events, Clock& clock,
                  Languages preferredLocalizations);
    RenderSession(const RenderSession&) = delete;
    RenderSession& operator=(const RenderSession&) = delete;

    // A new text: counts the revision and renders it when the page is ready.
    void render(std::shared_ptr<const std::string> source, std::optional<RenderEnhancements> enhancements);
    // Starts a render of the text when the page is ready and one is due.
    void scheduleRender();
    void setWindowActive(bool active);
    void setPendingScrollToSourceLine(std::optional<std::int64_t> line) {
        pendingScrollToSourceLine_ = line;
    }
    // Asks the page for its reading anchor and keeps it; none when the page
    // is not ready, has no content or fails. While the page takes a render
    // in, it asks nothing and answers the anchor kept (the one that render
    // returns to).
    static Task<std::optional<ReadingAnchor>> captureAnchor(Weak weak);
    void scheduleAnchorSnapshot(Clock::Duration delay);
    void setReadingAnchor(std::optional<ReadingAnchor> anchor) { readingAnchor_ = std::move(anchor); }

    // The page's report of a restored anchor (its own or in a rendered
    // reply): only the first of a render is kept.
    void noteAnchorRestored(const AnchorRestoredPayload& report);
    void noteDiagramsProgress(const DiagramsProgressPayload& payload) {
        lastDiagramsProgress_ = payload;
    }
    // After a process end or a retry: the next restored anchor tells how the
    // page found the reading position again.
    void awaitRecoveryStrategy();
    // A new page is loading: it shows nothing yet.
    void pageLoading() { pageHasContent_ = false; }
    // The web view went: its render and pending snapshot go with it.
    void pageDiscarded();

    bool isWindowActive() const { return isWindowActive_; }
    bool isRendering() const { return renderQueue_.isRunning(); }
    bool pageHasContent() const { return pageHasContent_; }
    std::int64_t renderRevision() const { return renderRevision_; }
    const std::shared_ptr<const std::string>& source() const { return source_; }
    const std::optional<RenderEnhancements>& enhancements() const { return enhancements_; }
    const std::optional<ReadingAnchor>& readingAnchor() const { return readingAnchor_; }
    const std::optional<RenderedPayload>& lastRendered() const { return lastRendered_; }
    const std::optional<ImageSummary>& lastImageSummary() const { return lastImageSummary_; }
    const std::optional<AnchorRestoredPayload>& lastAnchorRestored() const {
        return lastAnchorRestored_;
    }
    const std::optional<ScrolledToSourcePayload>& lastScrolledToSource() const {
        return lastScrolledToSource_;
    }
    const std::optional<DiagramsProgressPayload>& lastDiagramsProgress() const {
        return lastDiagramsProgress_;
    }
    std::int64_t anchorSnapshotCount() const { return anchorSnapshotCount_; }
    std::int64_t timeoutRetryCount() const { return timeoutRetryCount_; }
    bool isAwaitingRecoveryStrategy() const { return awaitingRecoveryStrategy_; }
    const std::optional<ReadingAnchorStrategy>& lastRecoveryStrategy() const {
        return lastRecoveryStrategy_;
    }

private:
    void retryTimedOutRenderIfNeeded();
    void recordScrolledToSource(const ScrolledToSourcePayload& report);
    // False when an owner's callback destroyed the reader.
    bool handleRenderedReply(RenderedPayload reply);

    Task<void> performRender(RenderQueue::Ticket ticket);
    Task<void> snapshotAnchorAfter(Clock::Duration delay);
    Task<void> takeAnchorSnapshot();

    const CurrentPage& page_;
    RenderSessionEvents& events_;
    Clock& clock_;
    const Languages preferredLocalizations_;

    std::shared_ptr<const std::string> source_;
    std::optional<RenderEnhancements> enhancements_;
    std::int64_t renderRevision_ = 0;
    RenderQueue renderQueue_;
    // The render whose request the page is taking in (sent, not answered).
    std::optional<RenderQueue::Ticket> goingIn_;
    bool isWindowActive_ = true;
    std::optional<std::int64_t> timeoutRetriedRevision_;
    std::int64_t timeoutRetryCount_ = 0;
    std::optional<RenderedPayload> lastRendered_;
    std::optional<ImageSummary> lastImageSummary_;
    std::optional<DiagramsProgressPayload> lastDiagramsProgress_;
    std::optional<ReadingAnchor> readingAnchor_;
    std::optional<AnchorRestoredPayload> lastAnchorRestored_;
    bool pageHasContent_ = false;
    std::optional<std::int64_t> pendingScrollToSourceLine_;
    std::optional<ScrolledToSourcePayload> lastScrolledToSource_;
    std::int64_t anchorSnapshotCount_ = 0;
    bool awaitingRecoveryStrategy_ = false;
    std::optional<ReadingAnchorStrategy> lastRecoveryStrategy_;

    TaskSlot anchorSnapshot_;
    TaskScope tasks_;  // last: its tasks end first
};

}  // namespace larkspin
