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

class WebViewPrewarmerTest : public ::testing::Test {
protected:
    void SetUp() override { AppLog::setRevealPrivateForTesting(true); }
    void TearDown() override {
        prewarmer.reset();
        MainThread::drainForTesting();
        AppLog::setRevealPrivateForTesting(std::nullopt);
    }
    std::shared_ptr<WebViewPrewarmer> make(bool enabled = true) {
        WebViewPrewarmer::Dependencies dependencies;
        dependencies.clock = &clock;
        const auto root = dir.path();
        dependencies.makeAppResources = [this, root] {
            return withRenderer ? AppResourceSchemeHandler::create(root) : nullptr;
        };
        dependencies.makeWebView = [this](auto, auto) {
            spares.push_back(std::make_shared<FakeSpare>());
            return spares.back();
        };
        return WebViewPrewarmer::create(enabled, std::move(dependencies));
    }
    // The newest spare's page says "ready".
    void ready() {
        spares.back()->port->post(
            R"({"protocolVersion":1,"messageID":"R","viewSessionID":"","documentID":"","sourceRevision":0,"renderGeneration":0,"type":"ready","payload":{}})");
    }
    void advance(Clock::Duration step) {
        clock.advance(step);
        MainThread::drainForTesting();
    }

    LogCapture logs;
    ManualClock clock;
    TempDir dir;
    bool withRenderer = true;
    std::vector<std::shared_ptr<FakeSpare>> spares;
    std::shared_ptr<WebViewPrewarmer> prewarmer = make();
};

TEST(WebViewPrewarmerConfiguration, OffInATestHostElseAsThePreferenceSaysOnByDefault) {
    EXPECT_FALSE(WebViewPrewarmer::isEnabledByConfiguration(true, true));
    EXPECT_FALSE(WebViewPrewarmer::isEnabledByConfiguration(false, false));
    EXPECT_TRUE(WebViewPrewarmer::isEnabledByConfiguration(false, true));
    EXPECT_TRUE(WebViewPrewarmer::isEnabledByConfiguration(false, std::nullopt));
    EXPECT_EQ(WebViewPrewarmer::shared()->state(), State::disabled) << "the tests are a test host";
}

TEST_F(WebViewPrewarmerTest, StartsLaterIsClaimedOnceReadyAndRestocksASecondAfter) {
    prewarmer->schedule();
    EXPECT_EQ(prewarmer->state(), State::idle) << "never at once";
    MainThread::drainForTesting();
    ASSERT_EQ(prewarmer->state(), State::loading);
    EXPECT_EQ(spares.back()->loads, 1);
    prewarmer->schedule();
    MainThread::drainForTesting();
    EXPECT_FALSE(prewarmer->claim()) << "a loading spare is never handed out";
    ready();
    EXPECT_EQ(prewarmer->state(), State::ready);
    prewarmer->schedule();
    MainThread::drainForTesting();
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
    EXPECT_EQ(prewarmer->readyCount(), 1);
}

TEST_F(WebViewPrewarmerTest, EveryFailureDropsTheSpareAndWaitsForTheNextSchedule) {
    const auto start = [&] {
        prewarmer->schedule();
        MainThread::drainForTesting();
        return spares.back();
    };
    // Not ready within 2 s; its late "ready" changes nothing.
    auto slow = start();
    advance(1999ms);
    EXPECT_EQ(prewarmer->state(), State::loading);
    advance(1ms);
    EXPECT_EQ(prewarmer->state(), State::idle);
    EXPECT_TRUE(slow->stopped);
    EXPECT_TRUE(logs.contains("prewarm", "丢弃备用 WKWebView：ready 超时（2000 ms）"));
    ready();
    EXPECT_EQ(prewarmer->state(), State::idle);

    struct Failure {
        bool readyFirst;
        std::function<void(ReaderHostEvents&)> happen;
        std::string reason;
    };
    const std::vector<Failure> failures{
        {false, [](ReaderHostEvents& e) { e.webViewDidFailLoad(true, "refused"); }, "入口页加载失败：refused"},
        {false, [](ReaderHostEvents& e) { e.webViewDidFailLoad(false, "gone"); }, "入口页导航失败：gone"},
        {false, [](ReaderHostEvents& e) { e.webViewProcessDidTerminate("crashed"); }, "Web 内容进程终止（预热中）"},
        {true, [](ReaderHostEvents& e) { e.webViewProcessDidTerminate("crashed"); }, "Web 内容进程终止（备用中）"},
    };
    for (const auto& failure : failures) {
        auto spare = start();
        if (failure.readyFirst) ready();
        failure.happen(*spare->events.lock());
        EXPECT_EQ(prewarmer->state(), State::idle) << failure.reason;
        EXPECT_TRUE(logs.contains("prewarm", "丢弃备用 WKWebView：" + failure.reason));
        EXPECT_FALSE(prewarmer->claim());
    }
    // A ready spare's later load failure is not its entry page's.
    start();
    ready();
    spares.back()->events.lock()->webViewDidFailLoad(false, "later");
    EXPECT_EQ(prewarmer->state(), State::ready);
    EXPECT_FALSE(spares.back()->events.lock()->webViewShouldNavigate(
        {"https://example.com/", true, true, NavigationType::linkActivated}));
    EXPECT_TRUE(logs.contains("prewarm", "备用 WKWebView 拦截导航"));
    EXPECT_EQ(prewarmer->failureCount(), 5);

    withRenderer = false;
    auto missing = make();
    missing->schedule();
    MainThread::drainForTesting();
    EXPECT_EQ(missing->failureCount(), 1);
    EXPECT_TRUE(logs.contains("prewarm", "预热失败：渲染器资源缺失"));

    auto off = make(false);
    off->schedule();
    MainThread::drainForTesting();
    EXPECT_EQ(off->state(), State::disabled);
    EXPECT_EQ(off->startCount(), 0);
}

}  // namespace
}  // namespace larkspin::test
