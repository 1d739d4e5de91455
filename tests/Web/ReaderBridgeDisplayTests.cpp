// The reader bridge against a real WebKitGTK web view under Xvfb, with a
// scripted stand-in for the renderer page (fixtures/bridge) served through
// the "app-resource" scheme.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Platform/Log.hpp"
#include "Protocol/AppResourceSchemeHandler.hpp"
#include "Protocol/BridgeError.hpp"
#include "Protocol/PageCallError.hpp"
#include "Protocol/ReaderBridge.hpp"
#include "Web/ReaderWebView.hpp"
#include "Web/WebKitBridgePort.hpp"
#include "Web/ResourceSchemes.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using nlohmann::json;
using SendOutcome = std::shared_ptr<test::TaskOutcome<BridgeEnvelope>>;

class EventLog final : public ReaderBridgeDelegate {
public:
    void bridgeDidBecomeReady(ReaderBridge& bridge) override {
        events.push_back("ready " + bridge.viewSessionID());
    }
    void bridgeDidReceiveError(ReaderBridge&, const BridgeErrorPayload& error) override {
        events.push_back("error " + error.code);
    }
    void bridgeDidReportActiveHeading(ReaderBridge&, const ActiveHeadingPayload& heading) override {
        events.push_back("activeHeading " + heading.id);
    }
    std::vector<std::string> events;
};

template <typename Error>
std::optional<Error> errorOf(const SendOutcome& outcome) {
    if (!outcome->error) return std::nullopt;
    try {
        std::rethrow_exception(outcome->error);
    } catch (const Error& error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}

class ReaderBridgeDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppLog::setRevealPrivateForTesting(true);
        schemes = ResourceSchemes::install(harness.context());
        pageFiles =
            AppResourceSchemeHandler::create(test::fixturePath(__FILE__, "fixtures/bridge"));
        view = newView();
        window = harness.show(view.get());
        bridge->setDelegate(delegate);
    }
    void TearDown() override {
        bridge->teardown();
        AppLog::setRevealPrivateForTesting(std::nullopt);
    }

    GObjectPtr<WebKitWebView> newView() {
        auto made = ReaderWebView::create(harness.context());
        schemes->route(made.get(), pageFiles, nullptr);
        return made;
    }
    void loadPage(WebKitWebView* target) {
        const test::LoadOutcome load =
            test::loadAndWait(target, std::string(AppResourceSchemeHandler::entryURL));
        ASSERT_TRUE(load.finished);
        ASSERT_FALSE(load.failed) << load.error;
    }
    json page(const std::string& body, WebKitWebView* target = nullptr) {
        const test::ScriptOutcome outcome = test::callScript(target ? target : view.get(), body);
        EXPECT_TRUE(outcome.ok) << body << ": " << outcome.error;
        return outcome.ok ? json::parse(outcome.json) : json();
    }
    void plan(const std::string& plans) { page("fake.plan(" + plans + "); return true;"); }
    // Sends a request and waits until the page has it.
    SendOutcome send(BridgeMessageType type, std::shared_ptr<ReaderBridge> from = nullptr) {
        const int before = page("return fake.received.length;").get<int>();
        auto outcome = test::startTask((from ? from : bridge)->send(type, JSONValue::object()));
        EXPECT_TRUE(test::waitFor([&] {
            return outcome->finished || page("return fake.received.length;").get<int>() > before;
        }));
        return outcome;
    }
    static void finish(const SendOutcome& outcome) {
        ASSERT_TRUE(test::waitFor([&] { return outcome->finished; }));
    }

    test::LogCapture logs;
    test::WebViewHarness harness;
    std::shared_ptr<ResourceSchemes> schemes;
    std::shared_ptr<AppResourceSchemeHandler> pageFiles;
    GObjectPtr<WebKitWebView> view;
    GtkWindow* window = nullptr;
    std::shared_ptr<EventLog> delegate = std::make_shared<EventLog>();
    std::shared_ptr<ReaderBridge> bridge = ReaderBridge::create("DOC", "SESSION");
};

TEST_F(ReaderBridgeDisplayTest, HandshakeRequestsAndEventsCrossThePage) {
    bridge->attach(WebKitBridgePort::create(view.get()));
    loadPage(view.get());
    ASSERT_TRUE(test::waitFor([&] { return !delegate->events.empty(); }));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"ready SESSION"});

    // An answer at once, with the request as the page received it.
    bridge->setSourceRevision(3);
    auto probe = send(BridgeMessageType::probe);
    finish(probe);
    ASSERT_FALSE(probe->error);
    EXPECT_EQ(probe->value->type, "capabilities");
    const json received = page("return fake.received[0];");
    EXPECT_EQ(received["messageID"], probe->value->messageID);
    EXPECT_EQ(received["viewSessionID"], "SESSION");
    EXPECT_EQ(received["documentID"], "DOC");
    EXPECT_EQ(received["sourceRevision"], 3);
    EXPECT_EQ(received["type"], "probe");
    EXPECT_EQ(received["payload"], json::object());

    // A late answer; a reply of another type comes back as it is.
    plan(R"({kind: "late", type: "scrolled", renderGeneration: 4})");
    auto late = send(BridgeMessageType::render);
    EXPECT_FALSE(late->finished);
    EXPECT_EQ(page("return fake.release();"), 1);
    finish(late);
    ASSERT_FALSE(late->error);
    EXPECT_EQ(late->value->type, "scrolled");
    EXPECT_EQ(bridge->renderGeneration(), 4);

    // Failures: an error envelope, a thrown exception, a rejected promise, a
    // value that is no object.
    plan(R"({kind: "error", code: "busy", message: "稍后"}, {kind: "throw", message: "boom"},
            {kind: "reject", message: "nope"}, {kind: "raw", value: 5})");
    auto remote = send(BridgeMessageType::find);
    auto thrown = send(BridgeMessageType::find);
    auto rejected = send(BridgeMessageType::find);
    auto number = send(BridgeMessageType::find);
    for (const auto& outcome : {remote, thrown, rejected, number}) finish(outcome);
    ASSERT_TRUE(errorOf<BridgeError>(remote));
    EXPECT_EQ(errorOf<BridgeError>(remote)->description(), "JS 端错误 busy：稍后");
    ASSERT_TRUE(errorOf<PageCallError>(thrown));
    EXPECT_EQ(errorOf<PageCallError>(thrown)->kind(), PageCallError::Kind::script);
    EXPECT_NE(std::string(errorOf<PageCallError>(thrown)->what()).find("boom"), std::string::npos);
    ASSERT_TRUE(errorOf<PageCallError>(rejected));
    EXPECT_NE(std::string(errorOf<PageCallError>(rejected)->what()).find("nope"),
              std::string::npos);
    ASSERT_TRUE(errorOf<BridgeError>(number));
    EXPECT_EQ(errorOf<BridgeError>(number)->detail(), "返回值不是 JSON 对象");
    EXPECT_EQ(bridge->renderGeneration(), 4);

    // Events on command: one of this session, one that is no object.
    page(R"(fake.post(fake.event("activeHeading", {id: "h1", index: 0}, "SESSION"));
            fake.post("activeHeading"); return true;)");
    ASSERT_TRUE(test::waitFor([&] { return delegate->events.size() == 2; }));
    EXPECT_EQ(delegate->events.back(), "activeHeading h1");
    ASSERT_TRUE(
        test::waitFor([&] { return logs.contains("bridge", "丢弃：body 不是 JSON 对象"); }));
}

TEST_F(ReaderBridgeDisplayTest, ALoadedPageIsTakenOverWithItsHandler) {
    auto prewarmDelegate = std::make_shared<EventLog>();
    auto prewarm = ReaderBridge::create("prewarm", "SPARE");
    prewarm->setDelegate(prewarmDelegate);
    prewarm->attach(WebKitBridgePort::create(view.get()));
    loadPage(view.get());
    ASSERT_TRUE(test::waitFor([&] { return !prewarmDelegate->events.empty(); }));
    EXPECT_EQ(prewarmDelegate->events, std::vector<std::string>{"ready SPARE"});

    bridge->attachTakingOverFrom(*prewarm);
    EXPECT_EQ(bridge->webView(), view.get());
    EXPECT_FALSE(prewarm->isAttached());
    prewarm->teardown();  // touches nothing now
    EXPECT_EQ(page("return fake.hasHandler();"), true);

    page(R"(fake.post(fake.event("activeHeading", {id: "moved", index: 1}, "SESSION"));
            return true;)");
    ASSERT_TRUE(test::waitFor([&] { return !delegate->events.empty(); }));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"activeHeading moved"});
    auto probe = send(BridgeMessageType::probe);
    finish(probe);
    EXPECT_FALSE(probe->error);

    bridge->teardown();
    EXPECT_EQ(page("return fake.hasHandler();"), false);
}

TEST_F(ReaderBridgeDisplayTest, TeardownEndsRequestsThePageNeverAnswers) {
    bridge->attach(WebKitBridgePort::create(view.get()));
    loadPage(view.get());
    plan(R"({kind: "never"}, {kind: "late"})");
    auto never = send(BridgeMessageType::render);
    auto late = send(BridgeMessageType::probe);
    EXPECT_FALSE(never->finished);
    bridge->teardown();
    finish(never);
    finish(late);
    ASSERT_TRUE(errorOf<BridgeError>(never));
    EXPECT_EQ(errorOf<BridgeError>(never)->kind(), BridgeError::Kind::notAttached);
    EXPECT_EQ(errorOf<BridgeError>(late)->kind(), BridgeError::Kind::notAttached);
    // The page's late answer finds nobody waiting, quietly.
    EXPECT_EQ(page("return fake.release();"), 1);
    EXPECT_EQ(page("return fake.hasHandler();"), false);
    for (const auto& record : logs.records())
        EXPECT_NE(record.level, LogLevel::fault) << record.message;
}

TEST_F(ReaderBridgeDisplayTest, AnEndedWebProcessEndsItsRequestsAndTheBridgeRecovers) {
    bridge->attach(WebKitBridgePort::create(view.get()));
    loadPage(view.get());
    plan(R"({kind: "never"})");
    auto pending = send(BridgeMessageType::render);
    webkit_web_view_terminate_web_process(view.get());
    finish(pending);
    ASSERT_TRUE(errorOf<PageCallError>(pending));
    EXPECT_EQ(errorOf<PageCallError>(pending)->kind(), PageCallError::Kind::webProcessTerminated);

    // Without a page a request fails at once; a reload brings the handshake.
    auto orphan = test::startTask(bridge->send(BridgeMessageType::probe, JSONValue::object()));
    finish(orphan);
    EXPECT_TRUE(orphan->error);
    delegate->events.clear();
    loadPage(view.get());
    ASSERT_TRUE(test::waitFor([&] { return !delegate->events.empty(); }));
    auto probe = send(BridgeMessageType::probe);
    finish(probe);
    EXPECT_FALSE(probe->error);
}

TEST_F(ReaderBridgeDisplayTest, ANewPageEndsTheRequestsOfTheOldOne) {
    bridge->attach(WebKitBridgePort::create(view.get()));
    loadPage(view.get());
    plan(R"({kind: "never"})");
    auto replaced = send(BridgeMessageType::render);
    loadPage(view.get());
    finish(replaced);
    ASSERT_TRUE(errorOf<PageCallError>(replaced));
    EXPECT_EQ(errorOf<PageCallError>(replaced)->kind(), PageCallError::Kind::pageReplaced);
    auto probe = send(BridgeMessageType::probe);  // the new page answers
    finish(probe);
    EXPECT_FALSE(probe->error);
}

}  // namespace
}  // namespace larkspin
