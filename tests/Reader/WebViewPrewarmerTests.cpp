// The prewarmer's states and restock timing on a manual clock, against fake
// spare web views: start on a later turn, ready once its worker is warm,
// claim, the next spare a second later, and every way a spare fails.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Reader/ReaderTestSupport.hpp"
#include "Reader/WebViewPrewarmer.hpp"

namespace larkspin::test {
namespace {

using State = WebViewPrewarmer::State;
using namespace std::chrono_literals;

class WebViewPrewarmerTest : public ReaderTest {
protected:
    void turn(Clock::Duration step = {}) {
        clock.advance(step);
        MainThread::drainForTesting();
    }
    std::shared_ptr<WebViewPrewarmer> prewarmer = makePrewarmer();
};

TEST_F(WebViewPrewarmerTest, OffInATestHostElseAsThePreferenceSaysOnByDefault) {
    EXPECT_FALSE(WebViewPrewarmer::isEnabledByConfiguration(true, true));
    EXPECT_FALSE(WebViewPrewarmer::isEnabledByConfiguration(false, false));
    EXPECT_TRUE(WebViewPrewarmer::isEnabledByConfiguration(false, std::nullopt));
    const auto off = makePrewarmer(false);
    off->schedule();
    turn();
    EXPECT_EQ(off->startCount(), 0);
}

TEST_F(WebViewPrewarmerTest, StartsLaterIsClaimedOnceReadyAndRestocksASecondAfter) {
    prewarmer->schedule();
    EXPECT_EQ(prewarmer->state(), State::idle) << "never at once";
    turn();
    EXPECT_EQ(prewarmer->state(), State::loading);
    prewarmer->schedule();
    turn();
    EXPECT_FALSE(prewarmer->claim()) << "a loading spare is never handed out";
    spareSaysReady();
    turn(250ms);
    const auto spare = prewarmer->claim();
    ASSERT_TRUE(spare);
    EXPECT_EQ(spare->webView, spares[0]);
    EXPECT_EQ(spares[0]->loads, 1);
    EXPECT_TRUE(spares[0]->events.expired()) << "its events are the claimer's now";
    EXPECT_TRUE(logs.contains("prewarm", "领用备用 WKWebView（第 1 次），ready 后等了 250 ms"));
    EXPECT_FALSE(prewarmer->claim());
    turn(999ms);
    EXPECT_EQ(prewarmer->state(), State::idle);
    turn(1ms);
    EXPECT_EQ(prewarmer->state(), State::loading);
    EXPECT_EQ(prewarmer->startCount(), 2);
}

TEST_F(WebViewPrewarmerTest, ReadyOnceItsProbeAnswersAfterTheWorkersWarmUpOrFails) {
    for (const bool probeFails : {false, true}) {
        SCOPED_TRACE(probeFails ? "the probe fails" : "the probe answers");
        prewarmer->schedule();
        turn();
        spareSaysReady(false);
        FakeBridgePort& port = *spares.back()->port;
        ASSERT_TRUE(runMainLoopUntil([&] { return !port.calls.empty(); }));
        EXPECT_EQ(port.request(0).type, "probe");
        turn(2s);
        EXPECT_EQ(prewarmer->state(), State::loading) << "the worker warms up; past the ready guard, no time-out";
        EXPECT_FALSE(prewarmer->claim());
        if (probeFails) {
            port.fail(0, std::make_exception_ptr(std::runtime_error("page gone")));
            MainThread::drainForTesting();
        } else {
            answerSpareProbe();
        }
        EXPECT_EQ(prewarmer->state(), State::ready);
        EXPECT_EQ(logs.contains("prewarm", "备用 WKWebView 的 probe 失败，解析 worker 未预热"), probeFails);
        spareSaysReady();  // said twice: asks nothing more
        EXPECT_EQ(port.calls.size(), 1u);
        ASSERT_TRUE(prewarmer->claim());
        turn(1s);
    }
    EXPECT_EQ(prewarmer->failureCount(), 0);
}

TEST_F(WebViewPrewarmerTest, EveryFailureDropsTheSpareAndWaitsForTheNextSchedule) {
    using Happen = std::function<void(ReaderHostEvents&)>;
    const std::vector<std::tuple<bool, Happen, std::string>> failures{
        {false, [&](auto&) { turn(2s); }, "ready 超时（2000 ms）"},
        {false, [](auto& e) { e.webViewDidFailLoad(true, "refused"); }, "入口页加载失败：refused"},
        {false, [](auto& e) { e.webViewDidFailLoad(false, "gone"); }, "入口页导航失败：gone"},
        {false, [](auto& e) { e.webViewProcessDidTerminate("crashed"); }, "Web 内容进程终止（预热中）"},
        {true, [](auto& e) { e.webViewProcessDidTerminate("crashed"); }, "Web 内容进程终止（备用中）"},
    };
    for (const auto& [readyFirst, happen, reason] : failures) {
        prewarmer->schedule();
        turn(1999ms);
        if (readyFirst) spareSaysReady();
        happen(*spares.back()->events.lock());
        EXPECT_EQ(prewarmer->state(), State::idle) << reason;
        EXPECT_TRUE(spares.back()->stopped);
        EXPECT_TRUE(logs.contains("prewarm", "丢弃备用 WKWebView：" + reason));
        spareSaysReady();  // too late: changes nothing
        EXPECT_FALSE(prewarmer->claim()) << reason;
    }
    // A ready spare's later load failure is not its entry page's.
    prewarmer->schedule();
    turn();
    spareSaysReady();
    spares.back()->events.lock()->webViewDidFailLoad(false, "later");
    spares.back()->events.lock()->webViewDidRefuseNewWindow(std::nullopt);
    EXPECT_EQ(prewarmer->state(), State::ready);
    EXPECT_TRUE(logs.contains("prewarm", "备用 WKWebView 拦截新窗口请求"));
    EXPECT_FALSE(spares.back()->events.lock()->webViewShouldNavigate({"https://example.com/", true, true, NavigationType::linkActivated}));
    EXPECT_EQ(prewarmer->failureCount(), 5);
    const auto missing = makePrewarmer(true, false);
    missing->schedule();
    turn();
    EXPECT_TRUE(missing->failureCount() == 1 && logs.contains("prewarm", "预热失败：渲染器资源缺失"));
}

}  // namespace
}  // namespace larkspin::test
