// The diagram render service's decisions against fake hosts on a manual
// clock: one render at a time in call order, every outcome with its payload,
// counters, log line and effect on the host, the time-out, host reuse and
// idle release, requests no longer wanted, and the service's release.

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Async/MainThread.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Protocol/Diagrams/DiagramHostError.hpp"
#include "Protocol/Diagrams/DiagramRenderService.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
using Outcome = DiagramHostDriving::RenderOutcome;

DiagramHostResponse svgFor(std::string id, std::optional<double> renderMs = std::nullopt) {
    return {std::move(id), "<svg/>", std::nullopt, std::nullopt, renderMs};
}

// A host that answers as its script says. Callbacks come on a later turn of
// the main loop, as the real host's do.
class FakeHost final : public DiagramHostDriving {
public:
    enum class Load { ready, hang, fail };

    Load loadMode = Load::ready;
    bool answerAtOnce = true;
    int loads = 0;
    int destroys = 0;
    std::vector<DiagramHostRequest> requests;
    LoadDone loadDone;
    RenderDone renderDone;

    void load(LoadDone done) override {
        ++loads;
        loadDone = std::move(done);
        if (loadMode == Load::ready) post(std::exchange(loadDone, {}), nullptr);
        if (loadMode == Load::fail) {
            post(std::exchange(loadDone, {}),
                 std::make_exception_ptr(DiagramHostError::loadFailed("navigation failed")));
        }
    }
    void render(DiagramHostRequest request, RenderDone done) override {
        requests.push_back(request);
        renderDone = std::move(done);
        if (answerAtOnce) {
            answer({request.diagramID, "<svg id=\"" + request.diagramID + "\"/>", std::nullopt,
                    "flowchart-v2", 12.7});
        }
    }
    void destroy() override {
        ++destroys;
        if (loadDone) post(std::exchange(loadDone, {}), std::make_exception_ptr(DiagramHostError::destroyed()));
    }
    void answer(DiagramHostResponse response) { post(std::exchange(renderDone, {}), Outcome{response, nullptr}); }
    void fail(std::exception_ptr error) { post(std::exchange(renderDone, {}), Outcome{std::nullopt, error}); }

private:
    template <typename Callback, typename Argument>
    static void post(Callback callback, Argument argument) {
        ASSERT_TRUE(callback);
        MainThread::post([callback = std::move(callback), argument = std::move(argument)]() mutable {
            callback(std::move(argument));
        });
    }
};

class DiagramRenderServiceTest : public ::testing::Test {
protected:
    using Stats = DiagramRenderService::Stats;

    void SetUp() override { makeService({}); }
    // A released service answers from the main loop: not into the next test.
    void TearDown() override {
        service.reset();
        drain();
    }

    void makeService(DiagramRenderService::Configuration configuration) {
        hosts.clear();
        results.clear();
        deliveries.clear();
        service = DiagramRenderService::create(
            configuration,
            [this]() -> std::shared_ptr<DiagramHostDriving> {
                if (makeHostThrows) throw std::runtime_error("no web view");
                auto host = std::make_shared<FakeHost>();
                host->loadMode = nextLoad;
                host->answerAtOnce = answerAtOnce;
                hosts.push_back(host);
                return host;
            },
            clock);
    }

    void submit(const std::string& id, DiagramRenderService::StillWanted stillWanted = {}) {
        service->enqueue({id, "graph TD; A-->B", theme}, std::move(stillWanted),
                         [this](DiagramResultPayload result) {
                             order.push_back(result.diagramID);
                             ++deliveries[result.diagramID];
                             results[result.diagramID] = std::move(result);
                         });
    }

    void drain() { MainThread::drainForTesting(); }
    void advance(Clock::Duration step) {
        clock.advance(step);
        drain();
    }
    FakeHost& host(std::size_t index = 0) { return *hosts.at(index); }
    bool hasResult(const std::string& id) const { return results.contains(id); }

    const JSONValue theme = JSONValue::object({{"primaryColor", JSONValue::string("#112233")}});
    test::LogCapture logs;
    ManualClock clock;
    std::shared_ptr<DiagramRenderService> service;
    std::vector<std::shared_ptr<FakeHost>> hosts;
    FakeHost::Load nextLoad = FakeHost::Load::ready;
    bool answerAtOnce = true;
    bool makeHostThrows = false;
    std::map<std::string, DiagramResultPayload> results;
    std::map<std::string, int> deliveries;
    std::vector<std::string> order;
};

TEST_F(DiagramRenderServiceTest, RendersOneAtATimeInCallOrderOnOneHost) {
    answerAtOnce = false;
    makeService({});
    for (const char* id : {"D1-1", "D1-2", "D1-3"}) submit(id);
    EXPECT_TRUE(hosts.empty()) << "nothing starts inside the call";
    drain();
    ASSERT_EQ(hosts.size(), 1u);
    ASSERT_EQ(host().requests.size(), 1u) << "the second waits for the first";
    EXPECT_EQ(host().requests[0], (DiagramHostRequest{"D1-1", "graph TD; A-->B", theme, 8000}));
    for (int i = 0; i < 3; ++i) {
        host().answer(svgFor(host().requests.back().diagramID));
        drain();
    }
    EXPECT_EQ(order, (std::vector<std::string>{"D1-1", "D1-2", "D1-3"}));
    EXPECT_EQ(hosts.size(), 1u);
    EXPECT_EQ(host().loads, 1);
    EXPECT_EQ(service->stats(), (Stats{.hostsCreated = 1, .rendered = 3}));
    EXPECT_TRUE(logs.contains("diagrams", "创建独立渲染 WebView（第 1 个）"));
}

// Every way a render can end, from one fresh service each: the payload, the
// counters, whether the host was ended (no idle tear-down is armed then).
TEST_F(DiagramRenderServiceTest, EachOutcomeGivesItsPayloadCountersAndHostAction) {
    using Error = DiagramResultError;
    const auto answer = [](std::optional<std::string> svg, std::optional<Error> error,
                           std::string id = "D1-1", std::optional<double> renderMs = 3.0) {
        return [=](FakeHost& host) { host.answer({id, svg, error, std::nullopt, renderMs}); };
    };
    const auto fail = [](auto error) {
        return [=](FakeHost& host) { host.fail(std::make_exception_ptr(error)); };
    };
    const Stats ok{.hostsCreated = 1, .rendered = 1};
    const Stats failed{.hostsCreated = 1, .failed = 1};
    const Stats ended{.hostsCreated = 1, .destroyedForFailure = 1, .failed = 1};
    const struct {
        FakeHost::Load load;
        std::function<void(FakeHost&)> act;  // answers the render, if it got that far
        std::optional<Error> error;          // none: the SVG
        Stats stats;
        std::string logLine;
    } cases[] = {
        {FakeHost::Load::ready, answer("<svg/>", std::nullopt), {}, ok,
         "图表 D1-1 独立渲染完成：type=? hostMs=3 totalMs=0 svg=6 字节"},
        {FakeHost::Load::ready, answer("<svg/>", Error{"parse", "ignored"}), {}, ok, "独立渲染完成"},
        {FakeHost::Load::ready, answer(std::nullopt, Error{"parse", "line 2"}), Error{"parse", "line 2"},
         failed, "图表 D1-1 宿主报错 parse：<private>"},
        {FakeHost::Load::ready, answer(std::nullopt, std::nullopt),
         Error{"render", "宿主没有返回 svg 也没有 error"}, failed, "宿主报错 render"},
        {FakeHost::Load::ready, answer("<svg/>", std::nullopt, "D9-9"), {}, ok, "图表 D1-1 独立渲染完成"},
        {FakeHost::Load::ready, answer("<svg/>", std::nullopt, "D1-1", 1e300), {}, ok,
         "hostMs=1000000000000000 "},
        {FakeHost::Load::ready, fail(BridgeError::remote("badRequest", "no payload")),
         Error{"unavailable", "JS 端错误 badRequest：no payload"}, ended,
         "图表 D1-1 独立渲染失败：<private>，销毁宿主"},
        {FakeHost::Load::ready, fail(DiagramHostError::invalidResponse("messageID 不匹配")),
         Error{"unavailable", "宿主响应不合法：messageID 不匹配"}, ended, "销毁独立渲染 WebView（failure）"},
        {FakeHost::Load::fail, nullptr, Error{"unavailable", "宿主页加载失败：navigation failed"}, ended,
         "销毁独立渲染 WebView（failure）"},
    };
    answerAtOnce = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logLine);
        logs.clear();
        nextLoad = c.load;
        makeService({});
        submit("D1-1");
        drain();
        ASSERT_EQ(hosts.size(), 1u);
        if (c.act) {
            ASSERT_EQ(host().requests.size(), 1u);
            c.act(host());
            drain();
        }
        ASSERT_TRUE(hasResult("D1-1"));
        EXPECT_EQ(results.at("D1-1"),
                  (DiagramResultPayload{"D1-1", c.error ? std::nullopt : std::optional<std::string>("<svg/>"), c.error}));
        EXPECT_EQ(service->stats(), c.stats);
        const bool destroyed = c.stats.destroyedForFailure > 0;
        EXPECT_EQ(host().destroys, destroyed ? 1 : 0);
        EXPECT_EQ(service->hasHost(), !destroyed);
        EXPECT_TRUE(logs.contains("diagrams", c.logLine));
        advance(60s);
        EXPECT_EQ(service->stats().destroyedForIdle, destroyed ? 0 : 1);
        EXPECT_FALSE(service->hasHost());
    }
}

TEST_F(DiagramRenderServiceTest, HostThatCannotBeMadeFailsTheRequestAndTheNextTriesAgain) {
    makeHostThrows = true;
    submit("D1-1");
    drain();
    EXPECT_EQ(results.at("D1-1").error, (DiagramResultError{"unavailable", "no web view"}));
    EXPECT_EQ(service->stats(), (Stats{.destroyedForFailure = 1, .failed = 1}));
    makeHostThrows = false;
    submit("D1-2");
    drain();
    EXPECT_TRUE(results.at("D1-2").svg);
    EXPECT_EQ(service->stats().hostsCreated, 1);
}

// A host page that never says "ready", and one that hangs in a render: both
// are cut at the time-out, the host ends (its web process with it), a late
// answer is ignored, and the next request gets a new host.
TEST_F(DiagramRenderServiceTest, TimeOutEndsTheHostAndTheNextRequestGetsANewOne) {
    answerAtOnce = false;
    for (const auto load : {FakeHost::Load::hang, FakeHost::Load::ready}) {
        SCOPED_TRACE(load == FakeHost::Load::hang ? "never ready" : "render hangs");
        nextLoad = load;
        makeService({});
        submit("D1-1");
        submit("D1-2");
        drain();
        nextLoad = FakeHost::Load::ready;  // for the next host
        advance(7999ms);
        EXPECT_FALSE(hasResult("D1-1"));
        advance(1ms);
        EXPECT_EQ(results.at("D1-1"),
                  DiagramResultPayload::failure("D1-1", "timeout", "独立渲染超过 8 s，已终止渲染进程"));
        EXPECT_EQ(host(0).destroys, 1);
        EXPECT_TRUE(logs.contains("diagrams", "图表 D1-1 独立渲染超过 8000 ms，销毁宿主 WebView"));
        EXPECT_TRUE(logs.contains("diagrams", "销毁独立渲染 WebView（timeout）"));

        if (host(0).renderDone) host(0).answer(svgFor("D1-1"));  // late: changes nothing
        drain();
        EXPECT_EQ(deliveries["D1-1"], 1);
        ASSERT_EQ(hosts.size(), 2u) << "the queued request made host number 2";
        ASSERT_EQ(host(1).requests.size(), 1u);
        host(1).answer(svgFor("D1-2"));
        drain();
        EXPECT_EQ(results.at("D1-2").svg, "<svg/>");
        EXPECT_EQ(service->stats(), (Stats{.hostsCreated = 2, .destroyedForTimeout = 1, .rendered = 1, .failed = 1}));
    }
}

TEST_F(DiagramRenderServiceTest, TimeOutCoversHostCreationAndEachRenderGetsTheWholeBudget) {
    answerAtOnce = false;
    makeService({.timeout = 2500ms});
    submit("D1-1");
    drain();
    advance(2000ms);
    host().answer(svgFor("D1-1"));
    submit("D1-2");
    drain();
    EXPECT_EQ(host().requests.back().timeoutMs, 2500);
    advance(2499ms);
    EXPECT_FALSE(hasResult("D1-2")) << "the second render's clock starts with it";
    advance(1ms);
    EXPECT_EQ(results.at("D1-2").error->message, "独立渲染超过 2 s，已终止渲染进程");
}

TEST_F(DiagramRenderServiceTest, IdleHostIsReleasedSixtySecondsAfterTheLastAnswer) {
    submit("D1-1");
    drain();
    advance(59s);
    submit("D1-2");  // before the idle time-out: same host, and the wait starts again
    drain();
    advance(59s);
    EXPECT_TRUE(service->hasHost());
    advance(1s);
    EXPECT_FALSE(service->hasHost());
    EXPECT_EQ(host().destroys, 1);
    EXPECT_EQ(service->stats(), (Stats{.hostsCreated = 1, .destroyedForIdle = 1, .rendered = 2}));
    EXPECT_TRUE(logs.contains("diagrams", "销毁独立渲染 WebView（idle 60.0 seconds）"));

    // A render that is still running holds the host however long it waits.
    answerAtOnce = false;
    makeService({.timeout = 120s});
    submit("D2-1");
    drain();
    advance(90s);
    EXPECT_TRUE(service->hasHost());
    EXPECT_EQ(service->stats().destroyedForIdle, 0);
}

TEST_F(DiagramRenderServiceTest, RenderStartedJustBeforeTheIdleDeadlineKeepsItsHost) {
    submit("D1-1");
    drain();
    ASSERT_TRUE(results.at("D1-1").svg);
    host().answerAtOnce = false;
    advance(59s);
    submit("D1-2");
    drain();
    ASSERT_EQ(host().requests.size(), 2u);
    advance(2s);  // past the deadline the first answer set, with the second still drawing
    EXPECT_TRUE(service->hasHost());
    EXPECT_EQ(host().destroys, 0);
    host().answer(svgFor("D1-2"));
    drain();
    EXPECT_EQ(results.at("D1-2").svg, "<svg/>");
    EXPECT_EQ(service->stats(), (Stats{.hostsCreated = 1, .rendered = 2}));
}

// A page whose own watchdog gave up on a diagram answers it "timeout" and its
// host stays; the drawing it abandoned may still be going on. Settled by the
// next request, the page takes it; still busy, it refuses it and the request
// goes to a new host. Either way no later diagram is lost.
TEST_F(DiagramRenderServiceTest, HostPageThatOverranItsWatchdogTakesWorkOnceSettledAndIsReplacedWhileBusy) {
    const DiagramHostResponse pageTimeout{
        "D1-1", std::nullopt, DiagramResultError{"timeout", "the diagram did not finish within 7500 ms"},
        std::nullopt, 7500.0};
    const auto busy = std::make_exception_ptr(
        BridgeError::remote("busy", "an earlier diagram is still being drawn"));
    for (const bool settled : {true, false}) {
        SCOPED_TRACE(settled ? "settled" : "still busy");
        logs.clear();
        answerAtOnce = false;
        makeService({});
        submit("D1-1");
        drain();
        advance(7500ms);
        host().answer(pageTimeout);
        drain();
        EXPECT_EQ(results.at("D1-1").error, pageTimeout.error);
        ASSERT_TRUE(service->hasHost()) << "the page answered: its host stays";

        for (const char* id : {"D1-2", "D1-3", "D1-4"}) {
            submit(id);
            drain();
            if (!settled && hosts.size() == 1) {
                host(0).fail(busy);
                drain();
                ASSERT_EQ(hosts.size(), 2u);
                EXPECT_EQ(host(0).destroys, 1);
                EXPECT_FALSE(hasResult(id)) << "a refusal is not the diagram's result";
            }
            FakeHost& current = *hosts.back();
            ASSERT_FALSE(current.requests.empty());
            EXPECT_EQ(current.requests.back().diagramID, id);
            current.answer(svgFor(id));
            drain();
            EXPECT_EQ(results.at(id).svg, "<svg/>");
            EXPECT_EQ(deliveries[id], 1);
        }
        EXPECT_EQ(hosts.size(), settled ? 1u : 2u);
        EXPECT_EQ(service->stats(), (Stats{.hostsCreated = settled ? 1 : 2,
                                           .destroyedForFailure = settled ? 0 : 1,
                                           .rendered = 3,
                                           .failed = 1}));
        EXPECT_EQ(logs.contains("diagrams", "销毁独立渲染 WebView（busy）"), !settled);
    }
}

// The new host gets what is left of the request's budget, and one new host
// only: a second refusal fails the request like any other error.
TEST_F(DiagramRenderServiceTest, BusyRefusalMovesTheRequestOnceWithinItsBudget) {
    const auto busy = [] {
        return std::make_exception_ptr(BridgeError::remote("busy", "an earlier diagram is still being drawn"));
    };
    answerAtOnce = false;
    makeService({});
    submit("D1-1");
    drain();
    advance(5s);
    host(0).fail(busy());
    drain();
    ASSERT_EQ(hosts.size(), 2u);
    ASSERT_EQ(host(1).requests.size(), 1u);
    advance(2999ms);
    EXPECT_FALSE(hasResult("D1-1"));
    advance(1ms);
    EXPECT_EQ(results.at("D1-1"), DiagramResultPayload::failure("D1-1", "timeout", "独立渲染超过 8 s，已终止渲染进程"));
    EXPECT_EQ(host(1).destroys, 1);

    makeService({});
    submit("D1-2");
    drain();
    host(0).fail(busy());
    drain();
    ASSERT_EQ(hosts.size(), 2u);
    host(1).fail(busy());
    drain();
    EXPECT_EQ(results.at("D1-2"), DiagramResultPayload::failure("D1-2", "unavailable",
                                                                "JS 端错误 busy：an earlier diagram is still being drawn"));
    EXPECT_EQ(hosts.size(), 2u);
    EXPECT_EQ(host(1).destroys, 1);
    EXPECT_EQ(service->stats(), (Stats{.hostsCreated = 2, .destroyedForFailure = 2, .failed = 1}));
}

TEST_F(DiagramRenderServiceTest, DisabledIsolationAnswersAtOnceWithoutAHost) {
    makeService({.isolation = DiagramHostIsolation::disabled});
    submit("D1-1");
    drain();
    EXPECT_EQ(results.at("D1-1"), DiagramResultPayload::failure("D1-1", "unavailable",
                                                               "独立渲染已禁用（MD_DIAGRAM_ISOLATION=disabled）"));
    EXPECT_TRUE(hosts.empty());
    EXPECT_EQ(service->stats(), Stats{});
}

// A closed document's requests are dropped when their turn comes, so its
// broken diagrams do not keep the host busy.
TEST_F(DiagramRenderServiceTest, RequestsNoLongerWantedAreDroppedBeforeTheyStart) {
    bool documentOpen = true;
    answerAtOnce = false;
    makeService({});
    for (int i = 1; i <= 3; ++i) submit("D1-" + std::to_string(i), [&] { return documentOpen; });
    submit("other", [] { return true; });
    drain();
    ASSERT_EQ(host().requests.size(), 1u);
    documentOpen = false;
    advance(8s);  // the running one is cut by the time-out as usual
    EXPECT_EQ(results.at("D1-1").error->code, "timeout");
    for (const char* id : {"D1-2", "D1-3"}) {
        EXPECT_EQ(results.at(id), DiagramResultPayload::failure(id, "unavailable", "图表已不再需要，未渲染"));
    }
    ASSERT_EQ(hosts.size(), 2u);
    ASSERT_EQ(host(1).requests.size(), 1u);
    EXPECT_EQ(host(1).requests[0].diagramID, "other");
    EXPECT_EQ(service->stats().failed, 1) << "dropped requests are not renders";
}

TEST_F(DiagramRenderServiceTest, ReleaseAnswersWaitingRequestsFromTheMainLoopWithoutDestroyingTheHost) {
    answerAtOnce = false;
    makeService({});
    submit("D1-1");
    submit("D1-2");
    drain();
    std::weak_ptr<DiagramRenderService> weak = service;
    service.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(results.empty()) << "nothing is answered inside the destructor";
    drain();
    for (const char* id : {"D1-1", "D1-2"}) {
        EXPECT_EQ(results.at(id), DiagramResultPayload::failure(id, "unavailable", "独立渲染服务已释放"));
    }
    EXPECT_EQ(host().destroys, 0);
    host().answer(svgFor("D1-1"));
    advance(120s);
    EXPECT_EQ(deliveries["D1-1"], 1);
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

TEST_F(DiagramRenderServiceTest, AwaitedRenderCompletesWithItsResult) {
    auto first = test::startTask(service->render({"D1-1", "graph TD; A-->B", JSONValue()}));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return first->finished; }));
    EXPECT_EQ(first->value->svg, "<svg id=\"D1-1\"/>");
    host().answerAtOnce = false;
    auto second = test::startTask(service->render({"D1-2", "graph TD; A-->B", JSONValue()}));
    drain();
    ASSERT_EQ(host().requests.size(), 2u);
    service.reset();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return second->finished; }));
    EXPECT_EQ(*second->value, DiagramResultPayload::failure("D1-2", "unavailable", "独立渲染服务已释放"));
}

TEST(DiagramRenderServiceValues, WholeMillisecondsAndIdleReason) {
    const std::pair<std::optional<double>, std::int64_t> cases[] = {
        {std::nullopt, 0}, {12.9, 12}, {-5.0, 0}, {1e300, 1'000'000'000'000'000},
        {std::numeric_limits<double>::infinity(), 0}, {std::nan(""), 0},
    };
    for (const auto& [value, whole] : cases) {
        EXPECT_EQ(DiagramRenderService::wholeMilliseconds(value), whole) << value.value_or(-1);
    }
    EXPECT_EQ(DiagramRenderService::idleReason(1500ms), "idle 1.5 seconds");
}

}  // namespace
}  // namespace larkspin
