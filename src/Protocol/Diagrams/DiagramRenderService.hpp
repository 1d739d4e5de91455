#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/Task.hpp"
#include "Protocol/Payloads/DiagramRequestPayload.hpp"
#include "Protocol/Payloads/DiagramResultPayload.hpp"
#include "Protocol/Diagrams/DiagramHostDriving.hpp"
#include "Protocol/Diagrams/DiagramHostIsolation.hpp"

namespace larkspin {

struct DiagramResultBox;

// Renders the reading page's diagrams in a hidden host page, strictly one at
// a time in arrival order. One host is made when the first request needs it
// and reused while requests keep coming; a render that overruns the time-out
// (host creation and loading included) or fails ends the host and its web
// process, and a host without work for the idle time-out is torn down. A host
// page whose own watchdog gave up on a diagram answers that one "timeout" and
// stays; while the abandoned drawing goes on it refuses work as "busy", and
// the request it refused goes to a new host within its own time budget
// (once), so no diagram is lost to it. Once the drawing settles the page
// takes requests again.
//
// Every request ends in exactly one DiagramResultPayload carrying the
// request's own diagram identifier and either the SVG or an error:
// - "unavailable": isolation disabled; the host could not be made, loaded or
//   asked (the error's description); the request was no longer wanted when
//   its turn came; the service was released while the request waited;
// - "timeout": the render overran the time-out;
// - "render": the page answered with neither SVG nor error;
// - the page's own code ("parse", "render", "empty", "timeout") with its
//   message.
//
// The deciding code lives here, free of WebKit: the host comes from
// `makeHost`, timers read the injected clock and run on the main loop.
// Main thread only. Create with `create`; owned by a shared_ptr.
class DiagramRenderService : public std::enable_shared_from_this<DiagramRenderService> {
public:
    struct Configuration {
        std::chrono::milliseconds timeout{8000};       // the whole budget of one render
        std::chrono::milliseconds idleTimeout{60000};  // a host without work is torn down after it
        DiagramHostIsolation isolation = DiagramHostIsolation::shared;

        // The time-out in whole milliseconds: what the page is told and what
        // the log and the time-out message show.
        std::int64_t timeoutMs() const { return timeout.count(); }
    };

    struct Stats {
        std::int64_t hostsCreated = 0;
        std::int64_t destroyedForTimeout = 0;
        std::int64_t destroyedForIdle = 0;
        std::int64_t destroyedForFailure = 0;
        std::int64_t rendered = 0;  // renders that produced SVG
        std::int64_t failed = 0;    // renders that produced an error, time-outs included

        bool operator==(const Stats&) const = default;
    };

    using MakeHost = std::function<std::shared_ptr<DiagramHostDriving>()>;
    // Asked on the main thread right before a request's render starts; false
    // drops it (its document was closed, its page replaced).
    using StillWanted = std::function<bool()>;
    using ResultHandler = std::function<void(DiagramResultPayload)>;

    static std::shared_ptr<DiagramRenderService> create(Configuration configuration,
                                                        MakeHost makeHost,
                                                        Clock& clock = Clock::system());
    // Requests still waiting, and the one being rendered, are answered
    // "unavailable" ("独立渲染服务已释放") from the main loop afterwards.
    // The host is let go without being destroyed: its owner releases it.
    ~DiagramRenderService();
    DiagramRenderService(const DiagramRenderService&) = delete;
    DiagramRenderService& operator=(const DiagramRenderService&) = delete;

    // The reader's entry: queues the request now and completes with its
    // result. Never throws.
    Task<DiagramResultPayload> render(DiagramRequestPayload request, StillWanted stillWanted = {});

    // The same with a callback: `done` is called exactly once, on the main
    // thread, on a later turn of the main loop.
    void enqueue(DiagramRequestPayload request, StillWanted stillWanted, ResultHandler done);

    const Configuration& configuration() const { return configuration_; }
    const Stats& stats() const { return stats_; }
    // Whether a host exists (loading or loaded).
    bool hasHost() const { return host_ != nullptr; }

    // Texts of the results the service makes itself.
    static constexpr std::string_view disabledMessage = "独立渲染已禁用（MD_DIAGRAM_ISOLATION=disabled）";
    static constexpr std::string_view releasedMessage = "独立渲染服务已释放";
    static constexpr std::string_view notWantedMessage = "图表已不再需要，未渲染";
    static constexpr std::string_view noResultMessage = "宿主没有返回 svg 也没有 error";
    std::string timeoutMessage() const;

    // The page's "renderMs" as a whole number of milliseconds: clamped to
    // [0, 10^15] first, so that any double the page sends converts safely.
    static std::int64_t wholeMilliseconds(std::optional<double> renderMs);
    // "idle 60.0 seconds".
    static std::string idleReason(std::chrono::milliseconds idleTimeout);

private:
    struct Pending {
        DiagramRequestPayload request;
        StillWanted stillWanted;
        ResultHandler done;
    };
    struct Active {
        Pending pending;
        std::uint64_t attempt = 0;
        Clock::TimePoint startedAt;
        TimerHandle timeout;
        std::shared_ptr<DiagramHostDriving> host;  // the host this render uses
        bool replacedBusyHost = false;               // a busy page sent it to a new host
    };
    enum class Ending { timedOut, failed, answered };

    DiagramRenderService(Configuration configuration, MakeHost makeHost, Clock& clock);

    static Task<DiagramResultPayload> awaitResult(std::shared_ptr<DiagramResultBox> box,
                                                  std::string diagramID);
    void schedulePump();
    void pump();
    void start(Pending pending);
    void loadNewHost(std::uint64_t attempt);
    void replaceBusyHost(std::uint64_t attempt);
    static bool isBusyRefusal(const std::exception_ptr& error);
    void hostDidLoad(std::uint64_t attempt, std::exception_ptr error);
    void sendRender(std::uint64_t attempt);
    void renderDidEnd(std::uint64_t attempt, DiagramHostDriving::RenderOutcome outcome);
    void timeoutDidFire(std::uint64_t attempt);
    void finishWithError(std::exception_ptr error);
    void finishWithResponse(const DiagramHostResponse& response);
    void finishTimedOut();
    std::int64_t elapsedMs() const;
    void complete(Pending& pending, DiagramResultPayload result);
    void endHosts(const Active& active, const std::string& reason);
    void destroyHost(const std::string& reason);
    void scheduleIdleTimer();
    void cancelIdleTimer();
    void idleTimerDidFire();

    Configuration configuration_;
    MakeHost makeHost_;
    Clock& clock_;
    std::shared_ptr<DiagramHostDriving> host_;
    bool hostLoaded_ = false;
    TimerHandle idleTimer_;
    std::deque<Pending> queue_;
    std::optional<Active> active_;
    std::uint64_t lastAttempt_ = 0;
    bool pumpScheduled_ = false;
    Stats stats_;
};

}  // namespace larkspin
