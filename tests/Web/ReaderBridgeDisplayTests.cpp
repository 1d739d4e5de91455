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
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Protocol/Envelope/PageCallError.hpp"
#include "Protocol/Bridge/ReaderBridge.hpp"
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
    try {
        if (outcome->error) std::rethrow_exception(outcome->error);
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
        view = ReaderWebView::create(harness.context());
        schemes->route(view.get(),
                       AppResourceSchemeHandler::create(test::fixturePath(__FILE__, "fixtures/bridge"),
                                                        std::make_shared<PooledResourceWorkers>("test", 1)),
                       nullptr);
        harness.show(view.get());
        bridge->setDelegate(delegate);
    }
    void TearDown() override {
        bridge->teardown();
        AppLog::setRevealPrivateForTesting(std::nullopt);
    }

    void loadPage(WebKitWebView* target) {
        const test::LoadOutcome load =
            test::loadAndWait(target, std::string(AppResourceSchemeHandler::entryURL));
        ASSERT_TRUE(load.finished);
        ASSERT_FALSE(load.failed) << load.error;
    }
    json page(const std::string& body) {
        const test::ScriptOutcome outcome = test::callScript(view.get(), body);
        EXPECT_TRUE(outcome.ok) << body << ": " << outcome.error;
        return outcome.ok ? json::parse(outcome.json) : json();
    }
    void plan(const std::string& plans) { page("fake.plan(" + plans + "); return true;"); }
    // Sends a request and waits until the page has it.
    SendOutcome send(BridgeMessageType type) {
        const int before = page("return fake.received.length;").get<int>();
        auto outcome = test::startTask(bridge->send(type, JSONValue::object()));
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
    GObjectPtr<WebKitWebView> view;
    std::shared_ptr<EventLog> delegate = std::make_shared<EventLog>();
    std::shared_ptr<ReaderBridge> bridge = ReaderBridge::create("DOC", "SESSION");
};

TEST_F(ReaderBridgeDisplayTest, HandshakeRequestsAndEventsCrossThePage) {
    bridge->attach(WebKitBridgePort::create(view.get()));
    loadPage(view.get());
    ASSERT_TRUE(test::waitFor([&] { return !delegate->events.empty(); }));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"ready SESSION"});

    // A late answer (a promise the page settles later), a thrown exception, a
    // rejected promise, a value that is no object.
    plan(R"({kind: "late", type: "scrolled", renderGeneration: 4}, {kind: "throw", message: "boom"},
            {kind: "reject", message: "nope"}, {kind: "raw", value: 5})");
    auto late = send(BridgeMessageType::render);
    auto thrown = send(BridgeMessageType::find);
    auto rejected = send(BridgeMessageType::find);
    auto number = send(BridgeMessageType::find);
    EXPECT_FALSE(late->finished);
    EXPECT_EQ(page("return fake.release();"), 1);
    for (const auto& outcome : {late, thrown, rejected, number}) finish(outcome);
    ASSERT_FALSE(late->error);
    EXPECT_EQ(late->value->type, "scrolled");
    EXPECT_EQ(bridge->renderGeneration(), 4);
    for (const auto& [outcome, text] : {std::pair{thrown, "boom"}, std::pair{rejected, "nope"}}) {
        ASSERT_TRUE(errorOf<PageCallError>(outcome)) << text;
        EXPECT_EQ(errorOf<PageCallError>(outcome)->kind(), PageCallError::Kind::script);
        EXPECT_NE(std::string(errorOf<PageCallError>(outcome)->what()).find(text), std::string::npos);
    }
    ASSERT_TRUE(errorOf<BridgeError>(number));
    EXPECT_EQ(errorOf<BridgeError>(number)->detail(), "返回值不是 JSON 对象");

    // Events on command: one of this session, as the page posts it (JSON
    // text), and one whose text is no object.
    page(R"(fake.post(JSON.stringify(fake.event("activeHeading", {id: "h1", index: 0}, "SESSION")));
            fake.post(JSON.stringify("activeHeading")); return true;)");
    ASSERT_TRUE(test::waitFor([&] { return delegate->events.size() == 2; }));
    EXPECT_EQ(delegate->events.back(), "activeHeading h1");
    ASSERT_TRUE(test::waitFor([&] { return logs.contains("bridge", "丢弃：body 不是 JSON 对象"); }));
}

TEST_F(ReaderBridgeDisplayTest, ThePageTakenOverEndsItsRequestsWhenReplacedEndedOrTornDown) {
    auto prewarmDelegate = std::make_shared<EventLog>();
    auto prewarm = ReaderBridge::create("prewarm", "SPARE");
    prewarm->setDelegate(prewarmDelegate);
    prewarm->attach(WebKitBridgePort::create(view.get()));
    loadPage(view.get());
    ASSERT_TRUE(test::waitFor([&] { return !prewarmDelegate->events.empty(); }));
    EXPECT_EQ(prewarmDelegate->events, std::vector<std::string>{"ready SPARE"});

    // A loaded page is taken over with its message handler.
    bridge->attachTakingOverFrom(*prewarm);
    EXPECT_EQ(bridge->webView(), view.get());
    EXPECT_FALSE(prewarm->isAttached());
    prewarm->teardown();  // touches nothing now
    page(R"(fake.post(fake.event("activeHeading", {id: "moved", index: 1}, "SESSION")); return true;)");
    ASSERT_TRUE(test::waitFor([&] { return !delegate->events.empty(); }));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"activeHeading moved"});

    // A new page, then an ended web process, ends what was asked of the old one.
    plan(R"({kind: "never"})");
    auto replaced = send(BridgeMessageType::render);
    loadPage(view.get());
    finish(replaced);
    ASSERT_TRUE(errorOf<PageCallError>(replaced));
    EXPECT_EQ(errorOf<PageCallError>(replaced)->kind(), PageCallError::Kind::pageReplaced);
    plan(R"({kind: "never"})");
    auto pending = send(BridgeMessageType::render);
    // The port does not hear the process end: the view's owner tells the
    // bridge, as the reader's signals do.
    const gulong terminated = g_signal_connect(
        view.get(), "web-process-terminated",
        G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
            static_cast<ReaderBridge*>(data)->webProcessDidTerminate();
        }),
        bridge.get());
    webkit_web_view_terminate_web_process(view.get());
    finish(pending);
    ASSERT_TRUE(errorOf<PageCallError>(pending));
    EXPECT_EQ(errorOf<PageCallError>(pending)->kind(), PageCallError::Kind::webProcessTerminated);
    g_signal_handler_disconnect(view.get(), terminated);

    // Without a page a request fails at once; a reload brings the handshake.
    auto orphan = test::startTask(bridge->send(BridgeMessageType::probe, JSONValue::object()));
    finish(orphan);
    EXPECT_TRUE(orphan->error);
    delegate->events.clear();
    loadPage(view.get());
    ASSERT_TRUE(test::waitFor([&] { return !delegate->events.empty(); }));
    EXPECT_EQ(page("return fake.hasHandler();"), true);

    // Teardown ends what the page never answers; a late answer finds nobody
    // waiting, quietly.
    plan(R"({kind: "never"}, {kind: "late"})");
    auto never = send(BridgeMessageType::render);
    auto late = send(BridgeMessageType::probe);
    bridge->teardown();
    for (const auto& outcome : {never, late}) {
        finish(outcome);
        ASSERT_TRUE(errorOf<BridgeError>(outcome));
        EXPECT_EQ(errorOf<BridgeError>(outcome)->kind(), BridgeError::Kind::notAttached);
    }
    EXPECT_EQ(page("return fake.release();"), 1);
    EXPECT_EQ(page("return fake.hasHandler();"), false);
    for (const auto& record : logs.records()) EXPECT_NE(record.level, LogLevel::fault) << record.message;
}

}  // namespace
}  // namespace larkspin
