// The reader bridge's decisions against a fake web view: requests and their
// replies, the render generation, the intake checks of page events in their
// order with their exact log lines, take-over and teardown.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Log.hpp"
#include "Protocol/BridgeError.hpp"
#include "Platform/Json/CodingError.hpp"
#include "Protocol/PageCallError.hpp"
#include "Protocol/ReaderBridge.hpp"
#include "Protocol/ReaderTestSupport.hpp"
#include "Support/FakeBridgePort.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using Message = ReaderBridgePort::ScriptMessage;
using CallResult = ReaderBridgePort::CallResult;

using FakeWebView = test::FakeBridgePort;

// Records every delegate call as one line.
class RecordingDelegate final : public ReaderBridgeDelegate {
public:
    void bridgeDidBecomeReady(ReaderBridge& bridge) override {
        events.push_back("ready " + bridge.viewSessionID());
    }
    void bridgeDidReceiveError(ReaderBridge&, const BridgeErrorPayload& error) override {
        events.push_back("error " + error.code + " " + error.message);
    }
    void bridgeDidReportActiveHeading(ReaderBridge&, const ActiveHeadingPayload& heading) override {
        events.push_back("activeHeading " + heading.id + " " + std::to_string(heading.index));
    }
    void bridgeDidReceiveLayoutReport(ReaderBridge&, const LayoutReportPayload& report) override {
        events.push_back("layoutReport " + report.reason.value_or("-"));
    }
    void bridgeDidReportDiagramsProgress(ReaderBridge&,
                                         const DiagramsProgressPayload& progress) override {
        events.push_back("diagramsProgress " + std::to_string(progress.done) + "/" +
                         std::to_string(progress.total));
    }
    void bridgeDidRequestDiagram(ReaderBridge&, const DiagramRequestPayload& request) override {
        events.push_back("diagramRequest " + request.diagramID);
    }
    void bridgeDidRequestCopy(ReaderBridge&, const CopyTextPayload& copy) override {
        events.push_back("copyText " + copy.text);
    }
    void bridgeDidRequestOpenLink(ReaderBridge&, const OpenLinkPayload& link) override {
        events.push_back("openLink " + link.href);
    }
    void bridgeDidRestoreAnchor(ReaderBridge&, const AnchorRestoredPayload& restored) override {
        events.push_back("anchorRestored " + restored.blockId);
    }

    std::vector<std::string> events;
};

// A page event of this session as JSON text.
std::string event(std::string_view type, std::string_view payload = "{}",
                  std::string_view session = "SESSION", std::string_view version = "1") {
    return std::string(R"({"protocolVersion":)") + std::string(version) +
           R"(,"messageID":"EVENT-1","viewSessionID":")" + std::string(session) +
           R"(","documentID":"page","sourceRevision":0,"renderGeneration":0,"type":")" +
           std::string(type) + R"(","payload":)" + std::string(payload) + "}";
}

// The reply to `request` with the given type, generation and payload.
std::string replyTo(const BridgeEnvelope& request, std::string_view type,
                    std::string_view payload = "{}", std::string_view generation = "0",
                    std::string_view version = "1") {
    return std::string(R"({"protocolVersion":)") + std::string(version) + R"(,"messageID":")" +
           request.messageID + R"(","viewSessionID":"","documentID":"","sourceRevision":0,)" +
           R"("renderGeneration":)" + std::string(generation) + R"(,"type":")" + std::string(type) +
           R"(","payload":)" + std::string(payload) + "}";
}

class ReaderBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppLog::setRevealPrivateForTesting(false);
        bridge->setDelegate(delegate);
        bridge->attach(page);
    }
    void TearDown() override { AppLog::setRevealPrivateForTesting(std::nullopt); }

    // Starts a request and waits until it reached the page.
    std::shared_ptr<test::TaskOutcome<BridgeEnvelope>> start(
        BridgeMessageType type, JSONValue payload = JSONValue::object(),
        std::shared_ptr<ReaderBridge> from = nullptr, FakeWebView* on = nullptr) {
        FakeWebView& target = on ? *on : *page;
        const std::size_t before = target.calls.size();
        auto outcome = test::startTask((from ? from : bridge)->send(type, std::move(payload)));
        EXPECT_TRUE(test::runMainLoopUntil(
            [&] { return target.calls.size() > before || outcome->finished; }));
        return outcome;
    }
    static void finish(const std::shared_ptr<test::TaskOutcome<BridgeEnvelope>>& outcome) {
        ASSERT_TRUE(test::runMainLoopUntil([&] { return outcome->finished; }));
    }
    // Sends a request, answers it with `reply(request)` and returns the outcome.
    std::shared_ptr<test::TaskOutcome<BridgeEnvelope>> exchange(
        const std::function<std::optional<std::string>(const BridgeEnvelope&)>& reply,
        BridgeMessageType type = BridgeMessageType::probe) {
        auto outcome = start(type);
        const std::size_t index = page->calls.size() - 1;
        page->answer(index, reply(page->request(index)));
        finish(outcome);
        return outcome;
    }
    // The BridgeError a finished request ended with.
    static BridgeError bridgeError(const test::TaskOutcome<BridgeEnvelope>& outcome) {
        try {
            if (outcome.error) std::rethrow_exception(outcome.error);
        } catch (const BridgeError& error) {
            return error;
        } catch (const std::exception& error) {
            ADD_FAILURE() << "another error: " << error.what();
            return BridgeError::invalidRequest();
        }
        ADD_FAILURE() << "the request succeeded";
        return BridgeError::invalidRequest();
    }
    // The bridge's log lines, "level: text".
    std::vector<std::string> bridgeLines() const {
        std::vector<std::string> lines;
        for (const auto& record : logs.records()) {
            if (record.category == "bridge") {
                lines.push_back(std::string(toString(record.level)) + ": " + record.message);
            }
        }
        return lines;
    }

    test::LogCapture logs;
    std::shared_ptr<FakeWebView> page = std::make_shared<FakeWebView>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<ReaderBridge> bridge = ReaderBridge::create("DOC", "SESSION");
};

// --- Requests ---------------------------------------------------------------

TEST_F(ReaderBridgeTest, RequestsCarryTheBridgesStampAndReturnTheReply) {
    bridge->setSourceRevision(41);
    bridge->setDocumentID("DOC-2");
    auto outcome = start(BridgeMessageType::find, json(R"({"query":"x","restart":true})"));
    ASSERT_EQ(page->calls.size(), 1u);
    const BridgeEnvelope request = page->request(0);
    EXPECT_EQ(request.protocolVersion, 1);
    EXPECT_EQ(request.viewSessionID, "SESSION");
    EXPECT_EQ(request.documentID, "DOC-2");
    EXPECT_EQ(request.sourceRevision, 41);
    EXPECT_EQ(request.renderGeneration, 0);
    EXPECT_EQ(request.type, "find");
    EXPECT_EQ(request.payload, json(R"({"query":"x","restart":true})"));
    EXPECT_EQ(request.messageID.size(), 36u);

    // The reply's session, document and revision are not checked, nor is its
    // type compared with the request.
    page->answer(0, replyTo(request, "scrolled", R"({"id":"h","found":false})"));
    finish(outcome);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value->type, "scrolled");
    EXPECT_EQ(outcome->value->messageID, request.messageID);
    EXPECT_TRUE(page->abandoned.empty());
}

TEST_F(ReaderBridgeTest, AnUnboundBridgeRefusesToSend) {
    auto fresh = ReaderBridge::create("DOC", "S2");
    auto outcome = start(BridgeMessageType::probe, JSONValue::object(), fresh);
    finish(outcome);
    EXPECT_EQ(bridgeError(*outcome).kind(), BridgeError::Kind::notAttached);
    EXPECT_STREQ(bridgeError(*outcome).what(), "bridge 未绑定 WKWebView");

    bridge->teardown();
    outcome = start(BridgeMessageType::probe);
    finish(outcome);
    EXPECT_EQ(bridgeError(*outcome).kind(), BridgeError::Kind::notAttached);
    EXPECT_TRUE(page->calls.empty());  // the page saw nothing
}

TEST_F(ReaderBridgeTest, APayloadThatCannotBeJSONNeverReachesThePage) {
    JSONValue::Object members;
    members.emplace("scale", JSONValue::number(std::nan("")));
    auto outcome = start(BridgeMessageType::setTypography, JSONValue::object(std::move(members)));
    finish(outcome);
    ASSERT_TRUE(outcome->error);
    EXPECT_THROW(std::rethrow_exception(outcome->error), CodingError);
    EXPECT_TRUE(page->calls.empty());
}

TEST_F(ReaderBridgeTest, RepliesAreValidatedInOrder) {
    struct Case {
        const char* name;
        std::function<std::optional<std::string>(const BridgeEnvelope&)> reply;
        BridgeError::Kind kind;
        std::string description;  // empty: only the kind is checked
    };
    const std::vector<Case> cases = {
        {"nothing", [](const auto&) { return std::nullopt; }, BridgeError::Kind::invalidResponse,
         "响应不是合法信封：返回值不是 JSON 对象"},
        {"a number", [](const auto&) { return "5"; }, BridgeError::Kind::invalidResponse,
         "响应不是合法信封：返回值不是 JSON 对象"},
        {"a string", [](const auto&) { return R"("{}")"; }, BridgeError::Kind::invalidResponse,
         "响应不是合法信封：返回值不是 JSON 对象"},
        {"an array", [](const auto&) { return "[1]"; }, BridgeError::Kind::invalidResponse, ""},
        {"nested too deep",
         [](const auto&) {
             const std::size_t depth = JSONValue::maximumDepth + 1;
             return std::string(depth, '[') + std::string(depth, ']');
         },
         BridgeError::Kind::invalidResponse,
         "响应不是合法信封：不是合法的 JSON 值：嵌套超过 256 层"},
        {"a missing key",
         [](const BridgeEnvelope& r) {
             std::string text = replyTo(r, "capabilities");
             return text.replace(text.find(R"("documentID":"",)"), 16, "");
         },
         BridgeError::Kind::invalidResponse, ""},
        {"version 2",
         [](const BridgeEnvelope& r) { return replyTo(r, "capabilities", "{}", "0", "2"); },
         BridgeError::Kind::invalidResponse, "响应不是合法信封：protocolVersion = 2"},
        {"version 2 of an error",
         [](const BridgeEnvelope& r) {
             return replyTo(r, "error", R"({"code":"c","message":"m"})", "0", "2");
         },
         BridgeError::Kind::invalidResponse, "响应不是合法信封：protocolVersion = 2"},
        {"another message",
         [](const BridgeEnvelope&) {
             BridgeEnvelope other;
             other.messageID = "OTHER";
             return replyTo(other, "capabilities");
         },
         BridgeError::Kind::messageIDMismatch, ""},
        {"an error",
         [](const BridgeEnvelope& r) {
             return replyTo(r, "error", R"({"code":"parse","message":"坏了"})", "9");
         },
         BridgeError::Kind::remote, "JS 端错误 parse：坏了"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto outcome = exchange(c.reply);
        const BridgeError error = bridgeError(*outcome);
        EXPECT_EQ(error.kind(), c.kind) << error.what();
        if (!c.description.empty()) {
            EXPECT_EQ(error.description(), c.description);
        }
        EXPECT_EQ(bridge->renderGeneration(), 0);  // a failed reply never moves it
    }

    // The array fails in decoding, with the decoder's own description.
    auto array = exchange([](const auto&) { return "[1]"; });
    try {
        BridgeEnvelope::decode("[1]");
    } catch (const CodingError& expected) {
        EXPECT_EQ(bridgeError(*array).detail(), expected.what());
    }
    // The mismatch names both identifiers.
    std::string sent;
    auto mismatch = exchange([&](const BridgeEnvelope& r) {
        sent = r.messageID;
        BridgeEnvelope other;
        other.messageID = "OTHER";
        return replyTo(other, "capabilities");
    });
    EXPECT_EQ(bridgeError(*mismatch).description(),
              "messageID 不匹配：期望 " + sent + "，实际 OTHER");
}

TEST_F(ReaderBridgeTest, FailuresOfThePageCallAndOfAnErrorPayloadPassUnchanged) {
    auto outcome = start(BridgeMessageType::probe);
    page->fail(0, std::make_exception_ptr(PageCallError(
                      PageCallError::Kind::script, "WebKitJavascriptError", 699, "Error: boom")));
    finish(outcome);
    ASSERT_TRUE(outcome->error);
    try {
        std::rethrow_exception(outcome->error);
    } catch (const PageCallError& error) {
        EXPECT_EQ(error.kind(), PageCallError::Kind::script);
        EXPECT_STREQ(error.what(), "Error: boom");
    }

    outcome =
        exchange([](const BridgeEnvelope& r) { return replyTo(r, "error", R"({"code":1})"); });
    ASSERT_TRUE(outcome->error);
    EXPECT_THROW(std::rethrow_exception(outcome->error), CodingError);
}

TEST_F(ReaderBridgeTest, TheRenderGenerationOnlyRises) {
    auto reply = [](std::string generation) {
        return [generation](const BridgeEnvelope& r) {
            return replyTo(r, "rendered", R"({"headings":[],"renderGeneration":0})", generation);
        };
    };
    ASSERT_FALSE(exchange(reply("5.0"), BridgeMessageType::render)->error);  // 5.0 is an integer
    EXPECT_EQ(bridge->renderGeneration(), 5);
    ASSERT_FALSE(exchange(reply("3"), BridgeMessageType::render)->error);
    EXPECT_EQ(bridge->renderGeneration(), 5);
    // Any successful reply counts, whatever its type.
    ASSERT_FALSE(exchange([](const BridgeEnvelope& r) {
                     return replyTo(r, "capabilities", "{}", "7");
                 })->error);
    EXPECT_EQ(bridge->renderGeneration(), 7);
    EXPECT_FALSE(exchange(reply("8.5"), BridgeMessageType::render)->value);  // not an integer
    EXPECT_EQ(bridge->renderGeneration(), 7);

    auto next = start(BridgeMessageType::probe);
    EXPECT_EQ(page->request(page->calls.size() - 1).renderGeneration, 7);
    page->answer(page->calls.size() - 1, std::nullopt);
    finish(next);
}

TEST_F(ReaderBridgeTest, ConcurrentRequestsEachTakeTheirOwnReply) {
    auto first = start(BridgeMessageType::probe);
    auto second = start(BridgeMessageType::captureAnchor);
    ASSERT_EQ(page->calls.size(), 2u);
    page->answer(1, replyTo(page->request(1), "anchor", "{}", "2"));
    page->answer(0, replyTo(page->request(0), "capabilities", "{}", "1"));
    finish(first);
    finish(second);
    EXPECT_EQ(first->value->type, "capabilities");
    EXPECT_EQ(second->value->type, "anchor");
    EXPECT_EQ(bridge->renderGeneration(), 2);
}

TEST_F(ReaderBridgeTest, RenderedRepliesLogTheirLimitsOnlyWhenSomeWereHit) {
    const auto rendered = [](std::string limits) {
        return [limits](const BridgeEnvelope& r) {
            return replyTo(r, "rendered", R"({"headings":[],"renderGeneration":1)" + limits + "}");
        };
    };
    exchange(rendered(""), BridgeMessageType::render);
    exchange(
        rendered(
            R"(,"limits":{"depthClamped":0,"nodesClamped":0,"codeTruncated":0,"diagramsSkipped":0})"),
        BridgeMessageType::render);
    EXPECT_TRUE(bridgeLines().empty());
    exchange(
        rendered(
            R"(,"limits":{"depthClamped":1,"nodesClamped":0,"codeTruncated":2,"diagramsSkipped":3})"),
        BridgeMessageType::render);
    EXPECT_EQ(bridgeLines(),
              std::vector<std::string>{
                  "info: 渲染触发复杂度上限：depthClamped=1 nodesClamped=0 codeTruncated=2 "
                  "diagramsSkipped=3"});
}

// --- Page events ------------------------------------------------------------

TEST_F(ReaderBridgeTest, PageEventsAreCheckedInOrderAndDroppedWithTheirLine) {
    struct Case {
        const char* name;
        std::function<void(FakeWebView&)> post;
        std::string line;  // "" = no line at all
    };
    const std::string session = "SESSION";
    const std::vector<Case> cases = {
        {"another handler", [&](FakeWebView& p) { p.post(event("ready"), "other"); }, ""},
        {"a sub-frame",
         [&](FakeWebView& p) {
             Message message;
             message.handlerName = "orvik";
             message.fromMainFrame = false;
             message.bodyJSON = "{";  // never looked at
             p.deliver(message);
         },
         "error: 丢弃：消息来自非主 frame"},
        {"another web view",
         [&](FakeWebView& p) {
             Message message;
             message.handlerName = "orvik";
             message.webView = &session;
             message.bodyJSON = event("ready");
             p.deliver(message);
         },
         "error: 丢弃：消息来自其他 WKWebView"},
        {"no body", [&](FakeWebView& p) { p.post(std::nullopt); },
         "error: 丢弃：body 不是 JSON 对象"},
        {"an array body", [&](FakeWebView& p) { p.post("[" + event("ready") + "]"); },
         "error: 丢弃：body 不是 JSON 对象"},
        {"a string body", [&](FakeWebView& p) { p.post(R"("ready")"); },
         "error: 丢弃：body 不是 JSON 对象"},
        {"no payload key",
         [&](FakeWebView& p) {
             std::string text = event("ready");
             p.post(text.substr(0, text.find(R"(,"payload")")) + "}");
         },
         "error: 丢弃：信封解码失败 <private>"},
        {"a fractional version", [&](FakeWebView& p) { p.post(event("ready", "{}", "", "1.5")); },
         "error: 丢弃：信封解码失败 <private>"},
        {"version 0 of an unknown type",
         [&](FakeWebView& p) { p.post(event("bogus", "{}", "", "0")); },
         "error: 丢弃：protocolVersion = 0"},
        {"an unknown type", [&](FakeWebView& p) { p.post(event("Render")); },
         "error: 丢弃：未知类型 <private>"},
        {"ready of another session", [&](FakeWebView& p) { p.post(event("ready", "{}", "OTHER")); },
         "error: 丢弃：viewSessionID 不匹配（ready）"},
        {"an event without session",
         [&](FakeWebView& p) { p.post(event("activeHeading", R"({"id":"a","index":1})", "")); },
         "error: 丢弃：viewSessionID 不匹配（activeHeading）"},
        {"a reply of another session",
         [&](FakeWebView& p) { p.post(event("rendered", "{}", "OTHER")); },
         "error: 丢弃：viewSessionID 不匹配（rendered）"},
        {"an unsolicited reply", [&](FakeWebView& p) { p.post(event("rendered")); },
         "error: 丢弃：rendered 不应由 JS 主动发送"},
        {"an unsolicited findResult",
         [&](FakeWebView& p) {
             p.post(event("findResult", R"({"matchCount":0,"activeIndex":-1,"found":false})"));
         },
         "error: 丢弃：findResult 不应由 JS 主动发送"},
        {"a declared-only type", [&](FakeWebView& p) { p.post(event("setFonts")); },
         "error: 丢弃：setFonts 不应由 JS 主动发送"},
        {"a bad error", [&](FakeWebView& p) { p.post(event("error", R"({"code":"x"})")); },
         "error: 丢弃：error payload 解码失败"},
        {"a bad activeHeading",
         [&](FakeWebView& p) { p.post(event("activeHeading", R"({"id":"a","index":0.5})")); },
         "error: 丢弃：activeHeading payload 解码失败"},
        {"a bad layoutReport", [&](FakeWebView& p) { p.post(event("layoutReport")); },
         "error: 丢弃：layoutReport payload 解码失败 <private>"},
        {"a bad diagramsProgress", [&](FakeWebView& p) { p.post(event("diagramsProgress")); },
         "error: 丢弃：diagramsProgress payload 解码失败 <private>"},
        {"a bad diagramRequest",
         [&](FakeWebView& p) {
             p.post(event("diagramRequest", R"({"diagramID":"d","source":""})"));
         },
         "error: 丢弃：diagramRequest payload 解码失败 <private>"},
        {"a bad copyText", [&](FakeWebView& p) { p.post(event("copyText", R"({"text":"t"})")); },
         "error: 丢弃：copyText payload 解码失败"},
        {"a bad openLink",
         [&](FakeWebView& p) {
             p.post(event(
                 "openLink",
                 R"({"href":"x","kind":"mailto","modifiers":{"command":false,"option":false,"shift":false}})"));
         },
         "error: 丢弃：openLink payload 解码失败 <private>"},
        {"a bad anchorRestored", [&](FakeWebView& p) { p.post(event("anchorRestored", "null")); },
         "error: 丢弃：anchorRestored payload 解码失败 <private>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        logs.clear();
        c.post(*page);
        const auto lines = bridgeLines();
        if (c.line.empty()) {
            EXPECT_TRUE(lines.empty());
        } else {
            EXPECT_EQ(lines, std::vector<std::string>{c.line});
        }
        EXPECT_TRUE(delegate->events.empty());
    }
    EXPECT_TRUE(page->calls.empty());  // nothing is ever answered to the page
}

TEST_F(ReaderBridgeTest, DropLinesCarryTheDecodingErrorPrivately) {
    AppLog::setRevealPrivateForTesting(true);
    page->post(event("layoutReport", R"({"pageScrollWidth":1,"clientWidth":1})"));
    try {
        BridgeEnvelope::decode(event("layoutReport", R"({"pageScrollWidth":1,"clientWidth":1})"))
            .decodePayload<LayoutReportPayload>();
        FAIL() << "decoded";
    } catch (const CodingError& error) {
        EXPECT_EQ(bridgeLines(),
                  std::vector<std::string>{
                      std::string("error: 丢弃：layoutReport payload 解码失败 ") + error.what()});
    }
    logs.clear();
    page->post(event("Render"));
    EXPECT_EQ(bridgeLines(), std::vector<std::string>{"error: 丢弃：未知类型 Render"});
}

TEST_F(ReaderBridgeTest, ValidEventsReachTheirDelegateOperation) {
    AppLog::setRevealPrivateForTesting(true);
    page->post(event("ready", R"("not read")", ""));  // the handshake may come without session
    page->post(event("ready"));
    page->post(event("error", R"({"code":"E1","message":"坏"})"));
    page->post(event("activeHeading", R"({"id":"h2","index":3.0})"));
    page->post(
        event("layoutReport",
              R"({"pageScrollWidth":2,"clientWidth":1,"overflowingBlocks":[],"reason":"resize"})"));
    page->post(event("diagramsProgress", R"({"total":3,"done":2,"failed":0,"mode":"inline"})"));
    page->post(event("diagramRequest", R"({"diagramID":"d1","source":"a","themeVariables":null})"));
    page->post(event("copyText", R"({"text":"复制","kind":"code","extra":1})"));
    page->post(event(
        "openLink",
        R"({"href":"b.md","kind":"relative","modifiers":{"command":true,"option":false,"shift":false}})"));
    page->post(
        event("anchorRestored",
              R"({"strategy":"none","applied":false,"blockId":"b7","scrollTop":0,"elapsedMs":1})"));
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"ready SESSION", "ready SESSION", "error E1 坏",
                                        "activeHeading h2 3", "layoutReport resize",
                                        "diagramsProgress 2/3", "diagramRequest d1",
                                        "copyText 复制", "openLink b.md", "anchorRestored b7"}));
    EXPECT_EQ(bridgeLines(), (std::vector<std::string>{"info: 收到 ready（messageID EVENT-1）",
                                                       "info: 收到 ready（messageID EVENT-1）",
                                                       "error: JS 报错 E1：坏"}));
}

TEST_F(ReaderBridgeTest, WithoutDelegateEventsAreStillCheckedAndLogged) {
    bridge->setDelegate({});
    page->post(event("ready", "{}", ""));
    page->post(event("error", R"({"code":"E","message":"m"})"));
    page->post(event("copyText", "{}"));
    EXPECT_EQ(bridgeLines(), (std::vector<std::string>{"info: 收到 ready（messageID EVENT-1）",
                                                       "error: JS 报错 E：<private>",
                                                       "error: 丢弃：copyText payload 解码失败"}));
    delegate.reset();  // a delegate that went away is not called
    bridge->setDelegate(std::weak_ptr<ReaderBridgeDelegate>());
    page->post(event("ready", "{}", ""));
}

// --- Binding, take-over, teardown --------------------------------------------

TEST_F(ReaderBridgeTest, TeardownUnregistersAndEndsWaitingRequestsAtOnce) {
    auto first = start(BridgeMessageType::render);
    auto second = start(BridgeMessageType::probe);
    ASSERT_EQ(page->calls.size(), 2u);
    bridge->teardown();
    finish(first);
    finish(second);
    EXPECT_EQ(bridgeError(*first).kind(), BridgeError::Kind::notAttached);
    EXPECT_EQ(bridgeError(*second).kind(), BridgeError::Kind::notAttached);
    EXPECT_EQ(page->abandoned, (std::vector<ReaderBridgePort::CallID>{1, 2}));
    EXPECT_TRUE(page->handlers.empty());
    EXPECT_FALSE(page->pageEnd);
    EXPECT_FALSE(bridge->isAttached());

    // A late answer is ignored quietly (no second result, no fault).
    page->answer(0, replyTo(page->request(0), "rendered"));
    MainThread::drainForTesting();
    EXPECT_TRUE(bridgeLines().empty());
    for (const auto& record : logs.records())
        EXPECT_NE(record.level, LogLevel::fault) << record.message;

    bridge->teardown();                          // again: nothing
    ReaderBridge::create("D", "S")->teardown();  // never attached: nothing
}

TEST_F(ReaderBridgeTest, APageThatEndsEndsItsRequests) {
    // What each end gives the waiting request.
    const auto kindOf = [](const std::exception_ptr& error) -> std::string {
        try {
            std::rethrow_exception(error);
        } catch (const PageCallError& e) {
            return e.kind() == PageCallError::Kind::webProcessTerminated ? "terminated"
                   : e.kind() == PageCallError::Kind::pageReplaced       ? "replaced"
                                                                         : "other";
        } catch (const BridgeError& e) {
            return e.kind() == BridgeError::Kind::notAttached ? "notAttached" : "other";
        } catch (...) {
        }
        return "other";
    };
    struct Case {
        ReaderBridgePort::PageEnd end;
        std::string error;
    };
    const std::vector<Case> cases = {
        {ReaderBridgePort::PageEnd::webProcessTerminated, "terminated"},
        {ReaderBridgePort::PageEnd::pageReplaced, "replaced"},
        {ReaderBridgePort::PageEnd::webViewGone, "notAttached"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.end));
        page = std::make_shared<FakeWebView>();
        bridge->attach(page);
        auto outcome = start(BridgeMessageType::render);
        page->end(c.end);
        finish(outcome);
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(kindOf(outcome->error), c.error);
        EXPECT_EQ(page->abandoned.size(), 1u);
    }
    // Only a gone web view unbinds the bridge; after a crash or a new page
    // the bridge still sends (the page answers or fails on its own).
    EXPECT_FALSE(bridge->isAttached());
    page = std::make_shared<FakeWebView>();
    bridge->attach(page);
    page->end(ReaderBridgePort::PageEnd::webProcessTerminated);
    EXPECT_TRUE(bridge->isAttached());
}

TEST_F(ReaderBridgeTest, AReleasedBridgeEndsItsRequestsAndLeavesItsHandlerRegistered) {
    auto outcome = start(BridgeMessageType::probe);
    bridge.reset();
    finish(outcome);
    EXPECT_EQ(bridgeError(*outcome).kind(), BridgeError::Kind::notAttached);
    ASSERT_TRUE(page->handlers.contains("orvik"));
    page->post(event("ready", "{}", ""));  // reaches nobody
    EXPECT_TRUE(delegate->events.empty());
    EXPECT_TRUE(bridgeLines().empty());
}

TEST_F(ReaderBridgeTest, AttachingRebindsAndRefusesAViewThatHasTheHandler) {
    auto second = std::make_shared<FakeWebView>();
    bridge->attach(second);
    EXPECT_TRUE(page->handlers.empty());  // the earlier binding was torn down
    EXPECT_EQ(bridge->webView(), second.get());

    auto other = ReaderBridge::create("DOC", "OTHER");
    other->attach(second);  // "orvik" is taken there
    EXPECT_FALSE(other->isAttached());
    EXPECT_TRUE(logs.contains("bridge", "已有 orvik 消息处理者"));
    second->post(event("ready", "{}", ""));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"ready SESSION"});
}

TEST_F(ReaderBridgeTest, TakingOverMovesTheViewAndItsHandlerWithoutReregistering) {
    // The prewarmer's bridge with a loaded page and a request in flight.
    auto prewarmDelegate = std::make_shared<RecordingDelegate>();
    auto spare = std::make_shared<FakeWebView>();
    auto prewarm = ReaderBridge::create("prewarm", "SPARE");
    prewarm->setDelegate(prewarmDelegate);
    prewarm->attach(spare);
    spare->post(event("ready", "{}", ""));
    EXPECT_EQ(prewarmDelegate->events, std::vector<std::string>{"ready SPARE"});
    auto inFlight = start(BridgeMessageType::probe, JSONValue::object(), prewarm, spare.get());

    bridge->setSourceRevision(12);
    bridge->attachTakingOverFrom(*prewarm);
    EXPECT_EQ(bridge->webView(), spare.get());
    EXPECT_FALSE(prewarm->isAttached());
    EXPECT_TRUE(page->handlers.empty());  // this bridge's own earlier binding went
    EXPECT_EQ(spare->handlers.size(), 1u);
    EXPECT_EQ(bridge->viewSessionID(), "SESSION");
    EXPECT_EQ(bridge->documentID(), "DOC");

    // Events of the page now reach the new owner, with its session.
    spare->post(event("activeHeading", R"({"id":"h","index":0})"));
    spare->post(event("activeHeading", R"({"id":"h","index":0})", "SPARE"));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"activeHeading h 0"});
    EXPECT_EQ(prewarmDelegate->events.size(), 1u);

    auto request = start(BridgeMessageType::probe, JSONValue::object(), nullptr, spare.get());
    EXPECT_EQ(spare->request(1).viewSessionID, "SESSION");
    EXPECT_EQ(spare->request(1).sourceRevision, 12);

    // Tearing down the giving side touches nothing; tearing down the new
    // owner removes the handler and ends every request on the page,
    // including the one the prewarmer sent.
    prewarm->teardown();
    EXPECT_EQ(spare->handlers.size(), 1u);
    EXPECT_FALSE(inFlight->finished);
    spare->post(event("activeHeading", R"({"id":"i","index":1})"));
    EXPECT_EQ(delegate->events.back(), "activeHeading i 1");
    bridge->teardown();
    EXPECT_TRUE(spare->handlers.empty());
    finish(inFlight);
    finish(request);
    EXPECT_EQ(bridgeError(*inFlight).kind(), BridgeError::Kind::notAttached);
    EXPECT_EQ(bridgeError(*request).kind(), BridgeError::Kind::notAttached);
}

TEST_F(ReaderBridgeTest, TakingOverFromABridgeWithoutLiveViewChangesNothing) {
    auto spare = std::make_shared<FakeWebView>();
    auto prewarm = ReaderBridge::create("prewarm", "SPARE");
    prewarm->attach(spare);
    spare->end(ReaderBridgePort::PageEnd::webViewGone);
    bridge->attachTakingOverFrom(*prewarm);
    EXPECT_EQ(bridge->webView(), page.get());
    EXPECT_TRUE(page->handlers.contains("orvik"));

    auto unbound = ReaderBridge::create("prewarm", "NONE");
    bridge->attachTakingOverFrom(*unbound);
    bridge->attachTakingOverFrom(*bridge);
    EXPECT_EQ(bridge->webView(), page.get());
    page->post(event("ready", "{}", ""));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"ready SESSION"});
}

}  // namespace
}  // namespace larkspin
