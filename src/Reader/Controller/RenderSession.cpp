#include "Reader/Controller/RenderSession.hpp"

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Json/CodingError.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/ErrorText.hpp"
#include "Protocol/Payloads/AnchorPayload.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Protocol/Payloads/RenderRequestPayload.hpp"
#include "Protocol/Payloads/RendererLanguage.hpp"
#include "Reader/Controller/PageRequest.hpp"
#include "Reader/ReaderLog.hpp"

namespace larkspin {

using reader::emptyObject;
using reader::pageRequest;
using Type = BridgeMessageType;

namespace {

// Whether a failed render still had the page's answer: an error reply, a
// reply of another type or one that does not read. A page gone, a bridge torn
// down or a cancelled render had none.
bool pageAnswered(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const BridgeError& error) {
        switch (error.kind()) {
            case BridgeError::Kind::invalidResponse:
            case BridgeError::Kind::messageIDMismatch:
            case BridgeError::Kind::unexpectedType:
            case BridgeError::Kind::remote:
                return true;
            case BridgeError::Kind::notAttached:
            case BridgeError::Kind::invalidRequest:
                return false;
        }
    } catch (const CodingError&) {
        return true;
    } catch (...) {
    }
    return false;
}

}  // namespace

RenderSession::RenderSession(const CurrentPage& page, RenderSessionEvents& events, Clock& clock,
                             Languages preferredLocalizations)
    : page_(page),
      events_(events),
      clock_(clock),
      preferredLocalizations_(std::move(preferredLocalizations)) {}

void RenderSession::render(std::shared_ptr<const std::string> source,
                           std::optional<RenderEnhancements> enhancements) {
    // The previous text (a whole document) is freed on a worker, when this
    // was its last holder.
    if (source_) releaseOnWorker(std::exchange(source_, nullptr));
    source_ = source ? std::move(source) : std::make_shared<const std::string>();
    enhancements_ = enhancements;
    ++renderRevision_;
    if (const auto bridge = page_.pageBridge()) bridge->setSourceRevision(renderRevision_);
    scheduleRender();
}

void RenderSession::scheduleRender() {
    if (!page_.isPageReady() || !source_) return;
    if (const auto ticket = renderQueue_.request()) tasks_.spawn(performRender(*ticket));
}

Task<void> RenderSession::performRender(RenderQueue::Ticket ticket) {
    std::exception_ptr failure;
    try {
        if (page_.pageBridge() && source_) {
            RenderRequestPayload request;
            request.source = source_;
            request.language = RendererLanguage::resolve(preferredLocalizations_());
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
            auto bridge = page_.pageBridge();
            if (!bridge) throw BridgeError::notAttached();
            events_.renderWillBeSent();
            // From here until its answer the page takes the render in.
            goingIn_ = ticket;
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
    if (goingIn_ == ticket) goingIn_.reset();
    if (failure) {
        // The page answered: what follows its first answer (the next spare)
        // does not depend on what the answer said.
        if (pageAnswered(failure)) events_.renderedReplyReceived();
        AppLog::bridge.error("render 失败：%{private}s", ErrorText::describe(failure));
    }
    if (renderQueue_.finish(ticket)) scheduleRender();
}

bool RenderSession::handleRenderedReply(RenderedPayload reply) {
    goingIn_.reset();
    events_.renderedReplyReceived();
    // Kept whole, headings included: they are handed on, never copied. The
    // previous reply (every heading and block) is freed on a worker.
    if (lastRendered_) releaseOnWorker(std::exchange(lastRendered_, std::nullopt));
    lastRendered_ = std::move(reply);
    const RenderedPayload& payload = *lastRendered_;
    lastImageSummary_ = payload.images;
    pageHasContent_ = true;
    if (payload.anchorRestored) noteAnchorRestored(*payload.anchorRestored);
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
    // Handed on by reference, never copied: valid while the callback runs.
    return events_.rendered(*lastRendered_);
}

void RenderSession::recordScrolledToSource(const ScrolledToSourcePayload& report) {
    lastScrolledToSource_ = report;
    ReaderLog::scrolledToSource(report);
}

void RenderSession::noteAnchorRestored(const AnchorRestoredPayload& report) {
    if (lastAnchorRestored_) return;
    lastAnchorRestored_ = report;
    if (awaitingRecoveryStrategy_) {
        awaitingRecoveryStrategy_ = false;
        lastRecoveryStrategy_ = report.strategy;
    }
    ReaderLog::anchorRestored(report);
}

void RenderSession::awaitRecoveryStrategy() {
    awaitingRecoveryStrategy_ = readingAnchor_.has_value();
    lastRecoveryStrategy_.reset();
}

void RenderSession::pageDiscarded() {
    goingIn_.reset();
    renderQueue_.reset();
    anchorSnapshot_.cancel();
    pageHasContent_ = false;
}

void RenderSession::setWindowActive(bool active) {
    const bool wasActive = isWindowActive_;
    isWindowActive_ = active;
    if (active && !wasActive) retryTimedOutRenderIfNeeded();
}

void RenderSession::retryTimedOutRenderIfNeeded() {
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

// ---- the reading anchor -------------------------------------------------------

Task<std::optional<ReadingAnchor>> RenderSession::captureAnchor(Weak weak) {
    auto self = weak.lock();
    if (!self || !self->page_.isPageReady() || !self->pageHasContent_) co_return std::nullopt;
    // While a render goes in, the page's place is not the reader's: a long
    // block still taking its rows in shows a place among its first rows.
    // The reader's place is the one the render returns to, kept here.
    if (self->goingIn_) co_return self->readingAnchor_;
    auto bridge = self->page_.pageBridge();
    if (!bridge) co_return std::nullopt;
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

void RenderSession::scheduleAnchorSnapshot(Clock::Duration delay) {
    anchorSnapshot_.spawn(snapshotAnchorAfter(delay));
}

Task<void> RenderSession::snapshotAnchorAfter(Clock::Duration delay) {
    co_await sleepFor(clock_, delay);
    // Once the wait is over a later schedule no longer cancels this capture.
    tasks_.spawn(takeAnchorSnapshot());
}

Task<void> RenderSession::takeAnchorSnapshot() {
    const auto anchor = co_await captureAnchor(weak_from_this());
    if (anchor) ++anchorSnapshotCount_;
}

}  // namespace larkspin
