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
#include "Protocol/BridgeError.hpp"
#include "Protocol/Diagrams/DiagramHostError.hpp"
#include "Protocol/Diagrams/DiagramRenderService.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
using Outcome = DiagramHostDriving::RenderOutcome;

// A host that answers as its script says. Callbacks come on a later turn of
// the main loop, as the real host's do.
class FakeHost final : public DiagramHostDriving {
public:
    enum class Load { ready, hang, fail };
    enum class Answer { svg, hang, manual };

    Load loadMode = Load::ready;
    Answer answerMode = Answer::svg;
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
        if (answerMode == Answer::svg) {
            DiagramHostResponse response;
            response.diagramID = request.diagramID;
            response.svg = "<svg id=\"" + request.diagramID + "\"/>";
            response.diagramType = "flowchart-v2";
            response.renderMs = 12.7;
            answer(response);
        }
    }
    void destroy() override {
        ++destroys;
        if (loadDone) post(std::exchange(loadDone, {}), std::make_exception_ptr(DiagramHostError::destroyed()));
    }

    void answer(DiagramHostResponse response) {
        Outcome outcome;
        outcome.response = std::move(response);
        post(std::exchange(renderDone, {}), std::move(outcome));
    }
    void fail(std::exception_ptr error) {
        Outcome outcome;
        outcome.error = std::move(error);
        post(std::exchange(renderDone, {}), std::move(outcome));
    }

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
        service = DiagramRenderService::create(
            configuration,
            [this]() -> std::shared_ptr<DiagramHostDriving> {
                if (makeHostThrows) throw std::runtime_error("no web view");
                auto host = std::make_shared<FakeHost>();
                host->loadMode = nextLoad;
                host->answerMode = nextAnswer;
                hosts.push_back(host);
                return host;
            },
            clock);
    }

    void submit(const std::string& id, DiagramRenderService::StillWanted stillWanted = {}) {
        DiagramRequestPayload request{id, "graph TD; A-->B", JSONValue::object({{"primaryColor", JSONValue::string("#112233")}})};
        service->enqueue(request, std::move(stillWanted), [this](DiagramResultPayload result) {
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

    test::LogCapture logs;
    ManualClock clock;
    std::shared_ptr<DiagramRenderService> service;
    std::vector<std::shared_ptr<FakeHost>> hosts;
    FakeHost::Load nextLoad = FakeHost::Load::ready;
    FakeHost::Answer nextAnswer = FakeHost::Answer::svg;
    bool makeHostThrows = false;
    std::map<std::string, DiagramResultPayload> results;
    std::map<std::string, int> deliveries;
    std::vector<std::string> order;
};

TEST_F(DiagramRenderServiceTest, RendersOneAtATimeInCallOrderOnOneHost) {
    nextAnswer = FakeHost::Answer::manual;
    submit("D1-1");
    submit("D1-2");
    submit("D1-3");
    EXPECT_TRUE(hosts.empty()) << "nothing starts inside the call";
    drain();
    ASSERT_EQ(hosts.size(), 1u);
    ASSERT_EQ(host().requests.size(), 1u) << "the second waits for the first";
    EXPECT_EQ(host().requests[0],
              (DiagramHostRequest{"D1-1", "graph TD; A-->B",
                                  JSONValue::object({{"primaryColor", JSONValue::string("#112233")}}),
                                  8000}));
    for (int i = 0; i < 3; ++i) {
        DiagramHostResponse response;
        response.diagramID = host().requests.back().diagramID;
        response.svg = "<svg/>";
        host().answer(response);
        drain();
    }
    EXPECT_EQ(order, (std::vector<std::string>{"D1-1", "D1-2", "D1-3"}));
    EXPECT_EQ(hosts.size(), 1u);
    EXPECT_EQ(host().loads, 1);
    EXPECT_EQ(service->stats(), (Stats{.hostsCreated = 1, .rendered = 3}));
    EXPECT_TRUE(logs.contains("diagrams", "创建独立渲染 WebView（第 1 个）"));
}

// Every way a render can end, from one fresh service each: the payload, the
// counters, whether the host was ended, and whether the idle tear-down is
// armed afterwards.
TEST_F(DiagramRenderServiceTest, EachOutcomeGivesItsPayloadCountersAndHostAction) {
    struct Case {
        std::string name;
        FakeHost::Load load;
        std::function<void(FakeHost&)> act;  // answers the render, if it got that far
        std::optional<std::string> svg;
        std::optional<DiagramResultError> error;
        Stats stats;
        int destroys;
        bool idleArmed;
        std::string logLine;
    };
    auto answer = [](std::optional<std::string> svg, std::optional<DiagramResultError> error,
                     std::string echoedID = "D1-1", std::optional<double> renderMs = 3.0) {
        return [=](FakeHost& host) {
            host.answer(DiagramHostResponse{echoedID, svg, error, std::nullopt, renderMs});
        };
    };
    const std::vector<Case> cases = {
        {"svg", FakeHost::Load::ready, answer("<svg/>", std::nullopt), "<svg/>", std::nullopt,
         {.hostsCreated = 1, .rendered = 1}, 0, true,
         "图表 D1-1 独立渲染完成：type=? hostMs=3 totalMs=0 svg=6 字节"},
        {"svg and error: the error is dropped", FakeHost::Load::ready,
         answer("<svg/>", DiagramResultError{"parse", "ignored"}), "<svg/>", std::nullopt,
         {.hostsCreated = 1, .rendered = 1}, 0, true, "独立渲染完成"},
        {"the page's own error", FakeHost::Load::ready,
         answer(std::nullopt, DiagramResultError{"parse", "Parse error on line 2"}), std::nullopt,
         DiagramResultError{"parse", "Parse error on line 2"}, {.hostsCreated = 1, .failed = 1}, 0,
         true, "图表 D1-1 宿主报错 parse：<private>"},
        {"neither svg nor error", FakeHost::Load::ready, answer(std::nullopt, std::nullopt),
         std::nullopt, DiagramResultError{"render", "宿主没有返回 svg 也没有 error"},
         {.hostsCreated = 1, .failed = 1}, 0, true, "宿主报错 render"},
        {"another diagramID echoed", FakeHost::Load::ready, answer("<svg/>", std::nullopt, "D9-9"),
         "<svg/>", std::nullopt, {.hostsCreated = 1, .rendered = 1}, 0, true, "图表 D1-1 独立渲染完成"},
        {"renderMs beyond any integer", FakeHost::Load::ready,
         answer("<svg/>", std::nullopt, "D1-1", 1e300), "<svg/>", std::nullopt,
         {.hostsCreated = 1, .rendered = 1}, 0, true, "hostMs=1000000000000000 "},
        {"the page answers error", FakeHost::Load::ready,
         [](FakeHost& host) {
             host.fail(std::make_exception_ptr(BridgeError::remote("badRequest", "no payload")));
         },
         std::nullopt, DiagramResultError{"unavailable", "JS 端错误 badRequest：no payload"},
         {.hostsCreated = 1, .destroyedForFailure = 1, .failed = 1}, 1, false,
         "图表 D1-1 独立渲染失败：<private>，销毁宿主"},
        {"an unusable reply", FakeHost::Load::ready,
         [](FakeHost& host) {
             host.fail(std::make_exception_ptr(DiagramHostError::invalidResponse("messageID 不匹配")));
         },
         std::nullopt, DiagramResultError{"unavailable", "宿主响应不合法：messageID 不匹配"},
         {.hostsCreated = 1, .destroyedForFailure = 1, .failed = 1}, 1, false, "销毁独立渲染 WebView（failure）"},
        {"the page does not load", FakeHost::Load::fail, nullptr, std::nullopt,
         DiagramResultError{"unavailable", "宿主页加载失败：navigation failed"},
         {.hostsCreated = 1, .destroyedForFailure = 1, .failed = 1}, 1, false, "销毁独立渲染 WebView（failure）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hosts.clear();
        results.clear();
        logs.clear();
        nextLoad = c.load;
        nextAnswer = FakeHost::Answer::manual;
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
        const auto& result = results.at("D1-1");
        EXPECT_EQ(result.diagramID, "D1-1");
        EXPECT_EQ(result.svg, c.svg);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(service->stats(), c.stats);
        EXPECT_EQ(host().destroys, c.destroys);
        EXPECT_EQ(service->hasHost(), c.destroys == 0);
        EXPECT_TRUE(logs.contains("diagrams", c.logLine)) << c.logLine;
        // The idle tear-down is armed only after an answer.
        advance(60s);
        EXPECT_EQ(service->stats().destroyedForIdle, c.idleArmed ? 1 : 0);
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
    for (const auto load : {FakeHost::Load::hang, FakeHost::Load::ready}) {
        SCOPED_TRACE(load == FakeHost::Load::hang ? "never ready" : "render hangs");
        hosts.clear();
        results.clear();
        deliveries.clear();
        makeService({});
        nextLoad = load;
        nextAnswer = FakeHost::Answer::manual;
        submit("D1-1");
        submit("D1-2");
        drain();
        nextLoad = FakeHost::Load::ready;  // for the next host
        advance(7999ms);
        EXPECT_FALSE(hasResult("D1-1"));
        advance(1ms);
        ASSERT_TRUE(hasResult("D1-1"));
        EXPECT_EQ(results.at("D1-1"),
                  DiagramResultPayload::failure("D1-1", "timeout", "独立渲染超过 8 s，已终止渲染进程"));
        EXPECT_EQ(host(0).destroys, 1);
        EXPECT_TRUE(logs.contains("diagrams", "图表 D1-1 独立渲染超过 8000 ms，销毁宿主 WebView"));
        EXPECT_TRUE(logs.contains("diagrams", "销毁独立渲染 WebView（timeout）"));

        // The late answer of the first host changes nothing.
        if (host(0).renderDone) {
            host(0).answer(DiagramHostResponse{"D1-1", "<svg/>", std::nullopt, std::nullopt, std::nullopt});
        }
        drain();
        EXPECT_EQ(deliveries["D1-1"], 1);
        ASSERT_EQ(hosts.size(), 2u) << "the queued request made host number 2";
        ASSERT_EQ(host(1).requests.size(), 1u);
        host(1).answer(DiagramHostResponse{"D1-2", "<svg/>", std::nullopt, std::nullopt, std::nullopt});
        drain();
        EXPECT_EQ(results.at("D1-2").svg, "<svg/>");
        EXPECT_EQ(service->stats(), (Stats{.hostsCreated = 2, .destroyedForTimeout = 1, .rendered = 1, .failed = 1}));
    }
}

TEST_F(DiagramRenderServiceTest, TimeOutCoversHostCreationAndEachRenderGetsTheWholeBudget) {
    makeService({.timeout = 2500ms});
    nextAnswer = FakeHost::Answer::manual;
    submit("D1-1");
    drain();
    advance(2000ms);
    host().answer(DiagramHostResponse{"D1-1", "<svg/>", std::nullopt, std::nullopt, std::nullopt});
    drain();
    submit("D1-2");
    drain();
    EXPECT_EQ(host().requests.back().timeoutMs, 2500);
    advance(2499ms);
    EXPECT_FALSE(hasResult("D1-2")) << "the second render's clock starts with it: "
                                    << (hasResult("D1-2") ? results.at("D1-2").error->message : "");
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
    EXPECT_EQ(service->stats().hostsCreated, 1);
    advance(1s);
    EXPECT_FALSE(service->hasHost());
    EXPECT_EQ(host().destroys, 1);
    EXPECT_EQ(service->stats(), (Stats{.hostsCreated = 1, .destroyedForIdle = 1, .rendered = 2}));
    EXPECT_TRUE(logs.contains("diagrams", "销毁独立渲染 WebView（idle 60.0 seconds）"));

    // A render that is still running holds the host however long it waits.
    nextAnswer = FakeHost::Answer::manual;
    makeService({.timeout = 120s});
    submit("D2-1");
    drain();
    advance(90s);
    EXPECT_TRUE(service->hasHost());
    EXPECT_EQ(service->stats().destroyedForIdle, 0);
}

TEST_F(DiagramRenderServiceTest, DisabledIsolationAnswersAtOnceWithoutAHost) {
    makeService({.isolation = DiagramHostIsolation::disabled});
    submit("D1-1");
    submit("D1-2");
    drain();
    for (const char* id : {"D1-1", "D1-2"}) {
        EXPECT_EQ(results.at(id), DiagramResultPayload::failure(
                                      id, "unavailable",
                                      "独立渲染已禁用（MD_DIAGRAM_ISOLATION=disabled）"));
    }
    EXPECT_TRUE(hosts.empty());
    EXPECT_EQ(service->stats(), Stats{});
}

// A closed document's requests are dropped when their turn comes, so its
// broken diagrams do not keep the host busy.
TEST_F(DiagramRenderServiceTest, RequestsNoLongerWantedAreDroppedBeforeTheyStart) {
    bool documentOpen = true;
    auto wanted = [&documentOpen] { return documentOpen; };
    nextAnswer = FakeHost::Answer::manual;
    submit("D1-1", wanted);
    for (int i = 2; i <= 5; ++i) submit("D1-" + std::to_string(i), wanted);
    submit("other", [] { return true; });
    drain();
    ASSERT_EQ(host().requests.size(), 1u);
    documentOpen = false;
    advance(8s);  // the running one is cut by the time-out as usual
    EXPECT_EQ(results.at("D1-1").error->code, "timeout");
    for (int i = 2; i <= 5; ++i) {
        const std::string id = "D1-" + std::to_string(i);
        EXPECT_EQ(results.at(id), DiagramResultPayload::failure(id, "unavailable", "图表已不再需要，未渲染"));
    }
    ASSERT_EQ(hosts.size(), 2u);
    ASSERT_EQ(host(1).requests.size(), 1u);
    EXPECT_EQ(host(1).requests[0].diagramID, "other");
    EXPECT_EQ(service->stats().failed, 1) << "dropped requests are not renders";
}

TEST_F(DiagramRenderServiceTest, ReleaseAnswersWaitingRequestsFromTheMainLoopWithoutDestroyingTheHost) {
    nextAnswer = FakeHost::Answer::manual;
    submit("D1-1");
    submit("D1-2");
    drain();
    std::weak_ptr<DiagramRenderService> weak = service;
    service.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(results.empty()) << "nothing is answered inside the destructor: "
                                 << (results.empty() ? "" : results.begin()->first + " " + results.begin()->second.error->message);
    drain();
    for (const char* id : {"D1-1", "D1-2"}) {
        EXPECT_EQ(results.at(id), DiagramResultPayload::failure(id, "unavailable", "独立渲染服务已释放"));
    }
    EXPECT_EQ(host().destroys, 0);
    host().answer(DiagramHostResponse{"D1-1", "<svg/>", std::nullopt, std::nullopt, std::nullopt});
    advance(120s);
    EXPECT_EQ(deliveries["D1-1"], 1);
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

TEST_F(DiagramRenderServiceTest, AwaitedRenderCompletesWithItsResult) {
    auto first = test::startTask(service->render({"D1-1", "graph TD; A-->B", JSONValue()}));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return first->finished; }));
    EXPECT_EQ(first->value->svg, "<svg id=\"D1-1\"/>");
    host().answerMode = FakeHost::Answer::manual;
    auto second = test::startTask(service->render({"D1-2", "graph TD; A-->B", JSONValue()}));
    drain();
    ASSERT_EQ(host().requests.size(), 2u);
    service.reset();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return second->finished; }));
    EXPECT_FALSE(second->error);
    EXPECT_EQ(*second->value, DiagramResultPayload::failure("D1-2", "unavailable", "独立渲染服务已释放"));
}

TEST(DiagramRenderServiceValues, NumbersAndTexts) {
    EXPECT_EQ(DiagramRenderService::Configuration{}.timeoutMs(), 8000);
    EXPECT_EQ(DiagramRenderService::Configuration{}.idleTimeout, 60s);
    EXPECT_EQ(DiagramRenderService::Configuration{}.isolation, DiagramHostIsolation::shared);

    const std::vector<std::pair<std::optional<double>, std::int64_t>> renderMs = {
        {std::nullopt, 0},
        {12.9, 12},
        {-5.0, 0},
        {1e300, 1'000'000'000'000'000},
        {std::numeric_limits<double>::infinity(), 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& [value, whole] : renderMs) {
        EXPECT_EQ(DiagramRenderService::wholeMilliseconds(value), whole);
    }
    EXPECT_EQ(DiagramRenderService::idleReason(60s), "idle 60.0 seconds");
    EXPECT_EQ(DiagramRenderService::idleReason(1500ms), "idle 1.5 seconds");

}

}  // namespace
}  // namespace larkspin
