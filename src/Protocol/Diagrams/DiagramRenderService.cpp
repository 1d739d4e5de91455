#include "Protocol/Diagrams/DiagramRenderService.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "Platform/Text/ErrorText.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Protocol/Diagrams/DiagramHostError.hpp"

namespace larkspin {

namespace {

constexpr std::string_view unavailable = "unavailable";

}  // namespace

// Where the result of one request waits for the task that awaits it: the
// service's callback may come before or after the task gets there.
struct DiagramResultBox {
    std::optional<DiagramResultPayload> result;
    std::optional<Completion<DiagramResultPayload>> waiter;

    void deliver(DiagramResultPayload payload) {
        if (waiter) {
            waiter->resolve(std::move(payload));
            waiter.reset();
        } else {
            result = std::move(payload);
        }
    }
    void wait(Completion<DiagramResultPayload> done) {
        if (result) {
            done.resolve(std::move(*result));
            result.reset();
        } else {
            waiter = std::move(done);
        }
    }
};

std::shared_ptr<DiagramRenderService> DiagramRenderService::create(Configuration configuration,
                                                                   MakeHost makeHost,
                                                                   Clock& clock) {
    return std::shared_ptr<DiagramRenderService>(
        new DiagramRenderService(std::move(configuration), std::move(makeHost), clock));
}

DiagramRenderService::DiagramRenderService(Configuration configuration, MakeHost makeHost,
                                           Clock& clock)
    : configuration_(std::move(configuration)), makeHost_(std::move(makeHost)), clock_(clock) {}

DiagramRenderService::~DiagramRenderService() {
    idleTimer_.cancel();
    std::vector<Pending> unanswered;
    if (active_) {
        active_->timeout.cancel();
        unanswered.push_back(std::move(active_->pending));
    }
    for (auto& pending : queue_) unanswered.push_back(std::move(pending));
    if (unanswered.empty()) return;
    // Their callers hear of it from the main loop, not from inside this
    // destructor (which may run in the middle of their own code).
    MainThread::post([unanswered = std::move(unanswered)] {
        for (const auto& pending : unanswered) {
            pending.done(DiagramResultPayload::failure(pending.request.diagramID,
                                                       std::string(unavailable),
                                                       std::string(releasedMessage)));
        }
    });
}

Task<DiagramResultPayload> DiagramRenderService::render(DiagramRequestPayload request,
                                                        StillWanted stillWanted) {
    auto box = std::make_shared<DiagramResultBox>();
    std::string diagramID = request.diagramID;
    enqueue(std::move(request), std::move(stillWanted),
            [box](DiagramResultPayload result) { box->deliver(std::move(result)); });
    return awaitResult(std::move(box), std::move(diagramID));
}

Task<DiagramResultPayload> DiagramRenderService::awaitResult(std::shared_ptr<DiagramResultBox> box,
                                                             std::string diagramID) {
    auto wait = [box](Completion<DiagramResultPayload> done) { box->wait(std::move(done)); };
    try {
        co_return co_await awaitCompletion<DiagramResultPayload>(std::move(wait));
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        // Only a result that can never come (the main loop shut down) gets here.
        AppLog::diagrams.error("图表 %{public}s 没有得到结果：%{public}s", diagramID, error.what());
    }
    co_return DiagramResultPayload::failure(std::move(diagramID), std::string(unavailable),
                                            std::string(releasedMessage));
}

void DiagramRenderService::enqueue(DiagramRequestPayload request, StillWanted stillWanted,
                                   ResultHandler done) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    queue_.push_back(Pending{std::move(request), std::move(stillWanted), std::move(done)});
    schedulePump();
}

void DiagramRenderService::schedulePump() {
    if (pumpScheduled_ || active_ || queue_.empty()) return;
    pumpScheduled_ = true;
    MainThread::post([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->pumpScheduled_ = false;
            self->pump();
        }
    });
}

void DiagramRenderService::pump() {
    while (!active_ && !queue_.empty()) {
        Pending pending = std::move(queue_.front());
        queue_.pop_front();
        if (configuration_.isolation == DiagramHostIsolation::disabled) {
            complete(pending, DiagramResultPayload::failure(pending.request.diagramID,
                                                            std::string(unavailable),
                                                            std::string(disabledMessage)));
            continue;
        }
        if (pending.stillWanted && !pending.stillWanted()) {
            AppLog::diagrams.info("图表 %{public}s 已不再需要，跳过独立渲染",
                                  pending.request.diagramID);
            complete(pending, DiagramResultPayload::failure(pending.request.diagramID,
                                                            std::string(unavailable),
                                                            std::string(notWantedMessage)));
            continue;
        }
        start(std::move(pending));
    }
}

void DiagramRenderService::start(Pending pending) {
    cancelIdleTimer();
    const std::uint64_t attempt = ++lastAttempt_;
    Active active;
    active.pending = std::move(pending);
    active.attempt = attempt;
    active.startedAt = clock_.now();
    active.timeout =
        MainThread::postAfter(clock_, configuration_.timeout, [weak = weak_from_this(), attempt] {
            if (auto self = weak.lock()) self->timeoutDidFire(attempt);
        });
    active_ = std::move(active);

    if (host_ && hostLoaded_) {
        active_->host = host_;
        sendRender(attempt);
        return;
    }
    loadNewHost(attempt);
}

void DiagramRenderService::loadNewHost(std::uint64_t attempt) {
    std::shared_ptr<DiagramHostDriving> host;
    try {
        host = makeHost_ ? makeHost_() : nullptr;
        if (!host) throw DiagramHostError::loadFailed("无法创建宿主");
    } catch (...) {
        finishWithError(std::current_exception());
        return;
    }
    host_ = host;
    hostLoaded_ = false;
    active_->host = host;
    stats_.hostsCreated += 1;
    AppLog::diagrams.info("创建独立渲染 WebView（第 %ld 个）", stats_.hostsCreated);
    host->load([weak = weak_from_this(), attempt](std::exception_ptr error) {
        if (auto self = weak.lock()) self->hostDidLoad(attempt, std::move(error));
    });
}

void DiagramRenderService::hostDidLoad(std::uint64_t attempt, std::exception_ptr error) {
    if (!active_ || active_->attempt != attempt) return;  // the render already ended
    if (error) {
        // The host stays recorded so that the failure ends it (and its web
        // process) like any other failed host.
        finishWithError(std::move(error));
        return;
    }
    if (host_ != active_->host) {
        finishWithError(std::make_exception_ptr(DiagramHostError::destroyed()));
        return;
    }
    hostLoaded_ = true;
    sendRender(attempt);
}

void DiagramRenderService::sendRender(std::uint64_t attempt) {
    DiagramHostRequest request{active_->pending.request.diagramID, active_->pending.request.source,
                               active_->pending.request.themeVariables,
                               configuration_.timeoutMs()};
    active_->host->render(std::move(request),
                          [weak = weak_from_this(), attempt](DiagramHostDriving::RenderOutcome outcome) {
                              if (auto self = weak.lock()) self->renderDidEnd(attempt, std::move(outcome));
                          });
}

void DiagramRenderService::renderDidEnd(std::uint64_t attempt,
                                        DiagramHostDriving::RenderOutcome outcome) {
    if (!active_ || active_->attempt != attempt) return;  // a late answer after the time-out
    if (outcome.error && !active_->replacedBusyHost && isBusyRefusal(outcome.error)) {
        replaceBusyHost(attempt);
        return;
    }
    if (outcome.error || !outcome.response) {
        finishWithError(outcome.error ? outcome.error
                                      : std::make_exception_ptr(
                                            DiagramHostError::invalidResponse("返回值不是 JSON 对象")));
        return;
    }
    finishWithResponse(*outcome.response);
}

bool DiagramRenderService::isBusyRefusal(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const BridgeError& refusal) {
        return refusal.kind() == BridgeError::Kind::remote &&
               refusal.code() == DiagramHostProtocol::busyCode;
    } catch (...) {
        return false;
    }
}

// The page is still busy with a diagram it gave up on earlier, which is no
// fault of this request: that host ends and the request gets a new one. The
// time-out started with the request keeps running.
void DiagramRenderService::replaceBusyHost(std::uint64_t attempt) {
    active_->replacedBusyHost = true;
    stats_.destroyedForFailure += 1;
    AppLog::diagrams.error("宿主仍在绘制此前超时的图表，图表 %{public}s 改由新宿主渲染",
                           active_->pending.request.diagramID);
    endHosts(*active_, "busy");
    active_->host.reset();
    loadNewHost(attempt);
}

void DiagramRenderService::timeoutDidFire(std::uint64_t attempt) {
    if (!active_ || active_->attempt != attempt) return;
    finishTimedOut();
}

std::int64_t DiagramRenderService::elapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now() - active_->startedAt)
        .count();
}

void DiagramRenderService::finishTimedOut() {
    Active active = std::move(*active_);
    active_.reset();
    const std::string& diagramID = active.pending.request.diagramID;
    stats_.destroyedForTimeout += 1;
    stats_.failed += 1;
    AppLog::diagrams.error("图表 %{public}s 独立渲染超过 %ld ms，销毁宿主 WebView", diagramID,
                           configuration_.timeoutMs());
    endHosts(active, "timeout");
    complete(active.pending,
             DiagramResultPayload::failure(diagramID, "timeout", timeoutMessage()));
    schedulePump();
}

void DiagramRenderService::finishWithError(std::exception_ptr error) {
    Active active = std::move(*active_);
    active_.reset();
    active.timeout.cancel();
    const std::string& diagramID = active.pending.request.diagramID;
    const std::string description = ErrorText::describe(error, "未知错误");
    stats_.destroyedForFailure += 1;
    stats_.failed += 1;
    AppLog::diagrams.error("图表 %{public}s 独立渲染失败：%{private}s，销毁宿主", diagramID,
                           description);
    endHosts(active, "failure");
    complete(active.pending,
             DiagramResultPayload::failure(diagramID, std::string(unavailable), description));
    schedulePump();
}

void DiagramRenderService::finishWithResponse(const DiagramHostResponse& response) {
    const std::int64_t elapsed = elapsedMs();
    Active active = std::move(*active_);
    active_.reset();
    active.timeout.cancel();
    const std::string& diagramID = active.pending.request.diagramID;
    if (response.svg) {
        stats_.rendered += 1;
        AppLog::diagrams.info(
            "图表 %{public}s 独立渲染完成：type=%{public}s hostMs=%ld totalMs=%ld svg=%ld 字节",
            diagramID, response.diagramType.value_or("?"), wholeMilliseconds(response.renderMs),
            elapsed, static_cast<std::int64_t>(response.svg->size()));
        complete(active.pending, DiagramResultPayload{diagramID, response.svg, std::nullopt});
    } else {
        stats_.failed += 1;
        const DiagramResultError error =
            response.error.value_or(DiagramResultError{"render", std::string(noResultMessage)});
        AppLog::diagrams.error("图表 %{public}s 宿主报错 %{public}s：%{private}s", diagramID,
                               error.code, error.message);
        complete(active.pending, DiagramResultPayload{diagramID, std::nullopt, error});
    }
    scheduleIdleTimer();
    schedulePump();
}

void DiagramRenderService::complete(Pending& pending, DiagramResultPayload result) {
    MainThread::post([done = std::move(pending.done), result = std::move(result)]() mutable {
        if (done) done(std::move(result));
    });
}

void DiagramRenderService::endHosts(const Active& active, const std::string& reason) {
    const bool usedCurrentHost = active.host == host_;
    destroyHost(reason);
    // A host that is no longer the current one (it failed to load, or was
    // replaced meanwhile) still holds a web process: end it too.
    if (active.host && !usedCurrentHost) active.host->destroy();
}

void DiagramRenderService::destroyHost(const std::string& reason) {
    cancelIdleTimer();
    if (!host_) return;
    AppLog::diagrams.info("销毁独立渲染 WebView（%{public}s）", reason);
    const std::shared_ptr<DiagramHostDriving> host = std::move(host_);
    host_.reset();
    hostLoaded_ = false;
    host->destroy();
}

void DiagramRenderService::scheduleIdleTimer() {
    cancelIdleTimer();
    idleTimer_ = MainThread::postAfter(clock_, configuration_.idleTimeout,
                                       [weak = weak_from_this()] {
                                           if (auto self = weak.lock()) self->idleTimerDidFire();
                                       });
}

void DiagramRenderService::cancelIdleTimer() {
    idleTimer_.cancel();
    idleTimer_ = TimerHandle();
}

void DiagramRenderService::idleTimerDidFire() {
    idleTimer_ = TimerHandle();
    stats_.destroyedForIdle += 1;
    destroyHost(idleReason(configuration_.idleTimeout));
}

std::string DiagramRenderService::timeoutMessage() const {
    return fmt::format("独立渲染超过 {} s，已终止渲染进程", configuration_.timeoutMs() / 1000);
}

std::int64_t DiagramRenderService::wholeMilliseconds(std::optional<double> renderMs) {
    constexpr double ceiling = 1e15;
    if (!renderMs || !std::isfinite(*renderMs)) return 0;
    return static_cast<std::int64_t>(std::clamp(*renderMs, 0.0, ceiling));
}

std::string DiagramRenderService::idleReason(std::chrono::milliseconds idleTimeout) {
    const double seconds = std::chrono::duration<double>(idleTimeout).count();
    std::string text = fmt::format("{}", seconds);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return "idle " + text + " seconds";
}

}  // namespace larkspin
