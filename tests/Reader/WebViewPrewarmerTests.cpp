// The prewarmer's states and restock timing on a manual clock, against fake
// spare web views: start on a later turn, ready, claim, the next spare a
// second later, and every way a spare fails.

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
    void start(WebViewPrewarmer& target) {
        target.schedule();
        MainThread::drainForTesting();
    }
    void advance(Clock::Duration step) {
        clock.advance(step);
        MainThread::drainForTesting();
    }
    std::shared_ptr<WebViewPrewarmer> prewarmer = makePrewarmer();
};

TEST_F(WebViewPrewarmerTest, OffInATestHostElseAsThePreferenceSaysOnByDefault) {
    for (const auto& [testHost, preference, enabled] :
         {std::tuple{true, std::optional(true), false}, std::tuple{false, std::optional(false), false},
          std::tuple{false, std::optional(true), true}, std::tuple{false, std::optional<bool>(), true}}) {
        EXPECT_EQ(WebViewPrewarmer::isEnabledByConfiguration(testHost, preference), enabled);
    }
    EXPECT_EQ(WebViewPrewarmer::shared()->state(), State::disabled) << "the tests are a test host";
    const auto off = makePrewarmer(false);
    start(*off);
    EXPECT_EQ(off->startCount(), 0);
    EXPECT_FALSE(off->claim());
}

TEST_F(WebViewPrewarmerTest, StartsLaterIsClaimedOnceReadyAndRestocksASecondAfter) {
    prewarmer->schedule();
    EXPECT_EQ(prewarmer->state(), State::idle) << "never at once";
    MainThread::drainForTesting();
    ASSERT_EQ(prewarmer->state(), State::loading);
    EXPECT_EQ(spares.back()->loads, 1);
    start(*prewarmer);
    EXPECT_FALSE(prewarmer->claim()) << "a loading spare is never handed out";
    spareSaysReady();
    EXPECT_EQ(prewarmer->state(), State::ready);
    start(*prewarmer);
    EXPECT_EQ(prewarmer->startCount(), 1);

    advance(250ms);
    const auto spare = prewarmer->claim();
    ASSERT_TRUE(spare);
    EXPECT_EQ(spare->webView, spares[0]);
    EXPECT_EQ(spare->bridge->documentID(), "prewarm");
    EXPECT_TRUE(spares[0]->events.expired()) << "its events are the claimer's now";
    EXPECT_TRUE(logs.contains("prewarm", "领用备用 WKWebView（第 1 次），ready 后等了 250 ms"));
    EXPECT_FALSE(prewarmer->claim());
    advance(999ms);
    EXPECT_EQ(prewarmer->state(), State::idle);
    advance(1ms);
    EXPECT_EQ(prewarmer->state(), State::loading);
    EXPECT_EQ(prewarmer->startCount(), 2);
    EXPECT_EQ(prewarmer->consumeCount(), 1);
}

TEST_F(WebViewPrewarmerTest, EveryFailureDropsTheSpareAndWaitsForTheNextSchedule) {
    // Not ready within 2 s; its late "ready" changes nothing.
    start(*prewarmer);
    advance(1999ms);
    EXPECT_EQ(prewarmer->state(), State::loading);
    advance(1ms);
    EXPECT_EQ(prewarmer->state(), State::idle);
    EXPECT_TRUE(spares.back()->stopped);
    EXPECT_TRUE(logs.contains("prewarm", "丢弃备用 WKWebView：ready 超时（2000 ms）"));
    spareSaysReady();
    EXPECT_EQ(prewarmer->state(), State::idle);

    using Happen = std::function<void(ReaderHostEvents&)>;
    const std::vector<std::tuple<bool, Happen, std::string>> failures{
        {false, [](auto& e) { e.webViewDidFailLoad(true, "refused"); }, "入口页加载失败：refused"},
        {false, [](auto& e) { e.webViewDidFailLoad(false, "gone"); }, "入口页导航失败：gone"},
        {false, [](auto& e) { e.webViewProcessDidTerminate("crashed"); }, "Web 内容进程终止（预热中）"},
        {true, [](auto& e) { e.webViewProcessDidTerminate("crashed"); }, "Web 内容进程终止（备用中）"},
    };
    for (const auto& [readyFirst, happen, reason] : failures) {
        start(*prewarmer);
        if (readyFirst) spareSaysReady();
        happen(*spares.back()->events.lock());
        EXPECT_EQ(prewarmer->state(), State::idle) << reason;
        EXPECT_TRUE(logs.contains("prewarm", "丢弃备用 WKWebView：" + reason));
        EXPECT_FALSE(prewarmer->claim());
    }
    // A ready spare's later load failure is not its entry page's.
    start(*prewarmer);
    spareSaysReady();
    spares.back()->events.lock()->webViewDidFailLoad(false, "later");
    EXPECT_EQ(prewarmer->state(), State::ready);
    EXPECT_FALSE(spares.back()->events.lock()->webViewShouldNavigate(
        {"https://example.com/", true, true, NavigationType::linkActivated}));
    EXPECT_TRUE(logs.contains("prewarm", "备用 WKWebView 拦截导航"));
    EXPECT_EQ(prewarmer->failureCount(), 5);

    const auto missing = makePrewarmer(true, false);
    start(*missing);
    EXPECT_EQ(missing->failureCount(), 1);
    EXPECT_TRUE(logs.contains("prewarm", "预热失败：渲染器资源缺失"));
}

}  // namespace
}  // namespace larkspin::test
