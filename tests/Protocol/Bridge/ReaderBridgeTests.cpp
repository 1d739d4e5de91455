// The reader bridge's decisions against a fake web view: requests and their
// replies, the render generation, the intake checks of page events in their
// order with their exact log lines, take-over and teardown.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>
#include <variant>
#include <vector>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Platform/Json/CodingError.hpp"
#include "Platform/Text/Utf8.hpp"
#include "Protocol/Envelope/PageCallError.hpp"
#include "Protocol/Bridge/ReaderBridge.hpp"
#include "Protocol/ReaderTestSupport.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"
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
    void bridgeDidBecomeReady(ReaderBridge& b) override { add("ready " + b.viewSessionID()); }
    void bridgeDidReceiveError(ReaderBridge&, const BridgeErrorPayload& p) override {
        add("error " + p.code + " " + p.message);
    }
    void bridgeDidReportActiveHeading(ReaderBridge&, const ActiveHeadingPayload& p) override {
        add("activeHeading " + p.id + " " + std::to_string(p.index));
    }
    void bridgeDidReceiveLayoutReport(ReaderBridge&, const LayoutReportPayload& p) override {
        add("layoutReport " + p.reason.value_or("-"));
    }
    void bridgeDidReportDiagramsProgress(ReaderBridge&, const DiagramsProgressPayload& p) override {
        add("diagramsProgress " + std::to_string(p.done) + "/" + std::to_string(p.total));
    }
    void bridgeDidRequestDiagram(ReaderBridge&, const DiagramRequestPayload& p) override {
        add("diagramRequest " + p.diagramID);
    }
    void bridgeDidRequestCopy(ReaderBridge&, const CopyTextPayload& p) override {
        add("copyText " + p.text);
    }
    void bridgeDidRequestOpenLink(ReaderBridge&, const OpenLinkPayload& p) override {
        add("openLink " + p.href);
    }
    void bridgeDidRestoreAnchor(ReaderBridge&, const AnchorRestoredPayload& p) override {
        add("anchorRestored " + p.blockId);
    }
    void add(std::string line) { events.push_back(std::move(line)); }

    std::vector<std::string> events;
};

// An envelope as JSON text: a page event of this session by default.
std::string envelope(std::string_view type, std::string_view payload = "{}",
                     std::string_view session = "SESSION", std::string_view version = "1",
                     std::string_view messageID = "EVENT-1", std::string_view generation = "0") {
    return std::string(R"({"protocolVersion":)") + std::string(version) + R"(,"messageID":")" +
           std::string(messageID) + R"(","viewSessionID":")" + std::string(session) +
           R"(","documentID":"page","sourceRevision":0,"renderGeneration":)" +
           std::string(generation) + R"(,"type":")" + std::string(type) + R"(","payload":)" +
           std::string(payload) + "}";
}
std::string event(std::string_view type, std::string_view payload = "{}",
                  std::string_view session = "SESSION", std::string_view version = "1") {
    return envelope(type, payload, session, version);
}
// The reply to `request` with the given type, payload and generation.
std::string replyTo(const BridgeEnvelope& request, std::string_view type,
                    std::string_view payload = "{}", std::string_view generation = "0",
                    std::string_view version = "1") {
    return envelope(type, payload, "", version, request.messageID, generation);
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
    template <typename T>
    static BridgeError bridgeError(const test::TaskOutcome<T>& outcome) {
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
    EXPECT_EQ(request.messageID.size(), 36u);
    EXPECT_EQ(request.jsonValue(), json(R"({"protocolVersion":1,"messageID":")" + request.messageID +
                                        R"(","viewSessionID":"SESSION","documentID":"DOC-2",
        "sourceRevision":41,"renderGeneration":0,"type":"find",
        "payload":{"query":"x","restart":true}})"));

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
    auto outcome = start(BridgeMessageType::probe, JSONValue::object(), ReaderBridge::create("D", "S"));
    finish(outcome);
    EXPECT_STREQ(bridgeError(*outcome).what(), "bridge 未绑定 WKWebView");
    bridge->teardown();
    outcome = start(BridgeMessageType::probe);
    finish(outcome);
    EXPECT_EQ(bridgeError(*outcome).kind(), BridgeError::Kind::notAttached);
    EXPECT_TRUE(page->calls.empty());  // the page saw nothing
}

TEST_F(ReaderBridgeTest, APayloadThatCannotBeJSONNeverReachesThePage) {
    auto outcome = start(BridgeMessageType::setTypography,
                         JSONValue::object({{"scale", JSONValue::number(std::nan(""))}}));
    finish(outcome);
    ASSERT_TRUE(outcome->error);
    EXPECT_THROW(std::rethrow_exception(outcome->error), CodingError);
    EXPECT_TRUE(page->calls.empty());
}

TEST_F(ReaderBridgeTest, RepliesAreValidatedInOrder) {
    using K = BridgeError::Kind;
    const std::size_t deep = JSONValue::maximumDepth + 1;
    std::string missingKey = envelope("capabilities", "{}", "", "1", "$ID");
    missingKey.erase(missingKey.find(R"("documentID":"page",)"), 20);
    std::string decodingArray;
    try {
        BridgeEnvelope::decode("[1]");
    } catch (const CodingError& error) {
        decodingArray = std::string("响应不是合法信封：") + error.what();
    }
    const struct {
        std::optional<std::string> reply;  // "$ID": the request's messageID
        K kind;
        std::string description;  // "$ID" likewise
    } cases[] = {
        {std::nullopt, K::invalidResponse, "响应不是合法信封：返回值不是 JSON 对象"},
        {"5", K::invalidResponse, "响应不是合法信封：返回值不是 JSON 对象"},
        {R"("{}")", K::invalidResponse, "响应不是合法信封：返回值不是 JSON 对象"},
        {"[1]", K::invalidResponse, decodingArray},
        {std::string(deep, '[') + std::string(deep, ']'), K::invalidResponse,
         "响应不是合法信封：不是合法的 JSON 值：嵌套超过 256 层"},
        {missingKey, K::invalidResponse, ""},
        {envelope("capabilities", "{}", "", "2", "$ID"), K::invalidResponse,
         "响应不是合法信封：protocolVersion = 2"},
        {envelope("error", R"({"code":"c","message":"m"})", "", "2", "$ID"), K::invalidResponse,
         "响应不是合法信封：protocolVersion = 2"},
        {envelope("capabilities", "{}", "", "1", "OTHER"), K::messageIDMismatch,
         "messageID 不匹配：期望 $ID，实际 OTHER"},
        {envelope("error", R"({"code":"parse","message":"坏了"})", "", "1", "$ID", "9"), K::remote,
         "JS 端错误 parse：坏了"},
    };
    const auto withID = [](std::string text, const std::string& id) {
        if (const auto at = text.find("$ID"); at != std::string::npos) text.replace(at, 3, id);
        return text;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.value_or("<none>").substr(0, 80));
        auto outcome = exchange([&](const BridgeEnvelope& r) {
            return c.reply ? std::optional(withID(*c.reply, r.messageID)) : std::nullopt;
        });
        const BridgeError error = bridgeError(*outcome);
        EXPECT_EQ(error.kind(), c.kind) << error.what();
        if (!c.description.empty()) {
            EXPECT_EQ(error.description(), withID(c.description, page->request(page->calls.size() - 1).messageID));
        }
        EXPECT_EQ(bridge->renderGeneration(), 0);  // a failed reply never moves it
    }
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
    const struct {
        const char* type;
        const char* generation;
        bool accepted;
        std::int64_t after;
    } replies[] = {
        {"rendered", "5.0", true, 5},    // 5.0 is an integer
        {"rendered", "3", true, 5},      // never falls
        {"capabilities", "7", true, 7},  // any successful reply counts, whatever its type
        {"rendered", "8.5", false, 7},   // not an integer
    };
    for (const auto& c : replies) {
        auto outcome = exchange(
            [&](const BridgeEnvelope& r) { return replyTo(r, c.type, "{}", c.generation); });
        EXPECT_EQ(outcome->value.has_value(), c.accepted) << c.generation;
        EXPECT_EQ(bridge->renderGeneration(), c.after) << c.generation;
    }
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
    const auto limits = [](std::string counts) {
        return R"(,"limits":{"depthClamped":)" + counts.substr(0, 1) + R"(,"nodesClamped":)" +
               counts.substr(1, 1) + R"(,"codeTruncated":)" + counts.substr(2, 1) +
               R"(,"diagramsSkipped":)" + counts.substr(3, 1) + "}";
    };
    for (const std::string& member : {std::string(), limits("0000"), limits("1023")}) {
        exchange(
            [&](const BridgeEnvelope& r) {
                return replyTo(r, "rendered", R"({"headings":[],"renderGeneration":1)" + member + "}");
            },
            BridgeMessageType::render);
    }
    EXPECT_EQ(bridgeLines(), std::vector<std::string>{"info: 渲染触发复杂度上限：depthClamped=1 "
                                                      "nodesClamped=0 codeTruncated=2 diagramsSkipped=3"});

    // Read as a typed reply too, large or not, the line comes once.
    logs.clear();
    for (const std::size_t limit : {ReaderBridge::inlineCodingLimit, std::size_t{0}}) {
        bridge->setInlineCodingLimit(limit);
        const std::size_t index = page->calls.size();
        auto outcome = test::startTask(bridge->request<RenderedPayload>(
            BridgeMessageType::render, JSONValue::object(), BridgeMessageType::rendered));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return page->calls.size() > index; }));
        page->answer(index, replyTo(page->request(index), "rendered",
                                    R"({"headings":[{"level":1,"text":"T","id":"t"}],"renderGeneration":1)" +
                                        limits("0100") + "}"));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return outcome->finished; }));
        ASSERT_FALSE(outcome->error);
        ASSERT_EQ(outcome->value->headings.size(), 1u);
        ASSERT_TRUE(outcome->value->limits);
        EXPECT_EQ(outcome->value->limits->nodesClamped, 1);
    }
    EXPECT_EQ(bridgeLines(), std::vector<std::string>(2, "info: 渲染触发复杂度上限：depthClamped=0 "
                                                         "nodesClamped=1 codeTruncated=0 diagramsSkipped=0"));
}

// --- Large texts: read off the main thread, handled in order ----------------

// A reply payload that counts the threads it was read on.
struct ThreadNotingPayload {
    std::string text;
    static inline std::atomic<int> readOnMainThread{0};
    static inline std::atomic<int> readElsewhere{0};

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        (MainThread::isMainThread() ? readOnMainThread : readElsewhere) += 1;
        coder.field("text", self.text);
    }
};

// Awaits a reply through `bridge` and notes its type in `log` when the
// waiting task has it.
Task<void> noteReply(std::shared_ptr<ReaderBridge> bridge, std::shared_ptr<RecordingDelegate> log) {
    BridgeEnvelope reply = co_await bridge->send(BridgeMessageType::probe, JSONValue::object());
    log->add("reply " + reply.type);
}

TEST_F(ReaderBridgeTest, LargeRepliesAreReadOffTheMainThreadWithTheirPayload) {
    const std::string large(3 * ReaderBridge::inlineCodingLimit, 'x');
    for (const std::string& text : {std::string("small"), large}) {
        ThreadNotingPayload::readOnMainThread = 0;
        ThreadNotingPayload::readElsewhere = 0;
        const std::size_t index = page->calls.size();
        auto outcome = test::startTask(bridge->request<ThreadNotingPayload>(
            BridgeMessageType::probe, JSONValue::object(), BridgeMessageType::capabilities));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return page->calls.size() > index; }));
        page->answer(index, replyTo(page->request(index), "capabilities",
                                    R"({"text":")" + text + R"("})", "4"));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return outcome->finished; }));
        ASSERT_FALSE(outcome->error);
        EXPECT_EQ(outcome->value->text, text);
        // A small text is read at once; a large one only on the worker queue.
        const bool isLarge = text.size() > ReaderBridge::inlineCodingLimit;
        EXPECT_EQ(ThreadNotingPayload::readOnMainThread, isLarge ? 0 : 1);
        EXPECT_EQ(ThreadNotingPayload::readElsewhere, isLarge ? 1 : 0);
    }
    EXPECT_EQ(bridge->renderGeneration(), 4);
}

TEST_F(ReaderBridgeTest, TypedRequestsRefuseAnotherTypeOrAMisfitAfterCountingTheGeneration) {
    const struct {
        const char* type;
        const char* payload;
        const char* generation;
        bool unexpectedType;
    } cases[] = {
        {"anchor", R"({"text":"t"})", "2", true},
        {"capabilities", R"({"text":5})", "3", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const std::size_t index = page->calls.size();
        auto outcome = test::startTask(bridge->request<ThreadNotingPayload>(
            BridgeMessageType::probe, JSONValue::object(), BridgeMessageType::capabilities));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return page->calls.size() > index; }));
        page->answer(index, replyTo(page->request(index), c.type, c.payload, c.generation));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return outcome->finished; }));
        ASSERT_TRUE(outcome->error);
        if (c.unexpectedType) {
            EXPECT_EQ(bridgeError(*outcome).kind(), BridgeError::Kind::unexpectedType);
        } else {
            EXPECT_THROW(std::rethrow_exception(outcome->error), CodingError);
        }
        EXPECT_EQ(bridge->renderGeneration(), std::stoll(c.generation));
    }
}

TEST_F(ReaderBridgeTest, RepliesAndEventsAreHandledInTheOrderTheyArrive) {
    // Everything through the worker queue: whatever arrives after a text
    // being read waits for it, and an event after a reply waits until the
    // task awaiting the reply has it.
    for (const std::size_t limit : {std::size_t{0}, ReaderBridge::inlineCodingLimit}) {
        SCOPED_TRACE(limit);
        bridge->setInlineCodingLimit(limit);
        delegate->events.clear();
        const std::size_t index = page->calls.size();
        auto task = test::startTask(noteReply(bridge, delegate));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return page->calls.size() > index; }));
        const std::string padding(limit == 0 ? 10 : 4 * limit, ' ');

        page->post(event("activeHeading", R"({"id":"a","index":0})") + padding);
        page->answer(index, replyTo(page->request(index), "capabilities") + padding);
        page->post(event("activeHeading", R"({"id":"b","index":1})"));
        page->post(event("copyText", R"({"text":")" + std::string(2 * ReaderBridge::inlineCodingLimit, 'c') + R"(","kind":"code"})"));
        page->post(event("activeHeading", R"({"id":"c","index":2})"));
        EXPECT_TRUE(delegate->events.empty()) << "nothing large is read on the spot";
        ASSERT_TRUE(test::runMainLoopUntil([&] { return delegate->events.size() == 5; }))
            << ::testing::PrintToString(delegate->events) << ::testing::PrintToString(bridgeLines());
        EXPECT_EQ(delegate->events,
                  (std::vector<std::string>{"activeHeading a 0", "reply capabilities", "activeHeading b 1",
                                            "copyText " + std::string(2 * ReaderBridge::inlineCodingLimit, 'c'),
                                            "activeHeading c 2"}));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return task->finished; }));
    }
    // Alone, a small event is still handled at once.
    delegate->events.clear();
    page->post(event("activeHeading", R"({"id":"d","index":3})"));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"activeHeading d 3"});
}

TEST_F(ReaderBridgeTest, AnAnswerBeingReadWhenItsRequestEndsIsDropped) {
    bridge->setInlineCodingLimit(0);
    auto outcome = start(BridgeMessageType::render);
    page->answer(0, replyTo(page->request(0), "rendered", R"({"headings":[],"renderGeneration":1})", "6"));
    page->post(event("activeHeading", R"({"id":"a","index":0})"));
    bridge->teardown();  // while both are on the worker queue
    finish(outcome);
    EXPECT_EQ(bridgeError(*outcome).kind(), BridgeError::Kind::notAttached);
    // A new binding's event is read after them, on the same queue.
    page = std::make_shared<FakeWebView>();
    bridge->attach(page);
    page->post(event("activeHeading", R"({"id":"b","index":1})"));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !delegate->events.empty(); }));
    MainThread::drainForTesting();
    EXPECT_EQ(delegate->events, std::vector<std::string>{"activeHeading b 1"});
    EXPECT_EQ(bridge->renderGeneration(), 0);
    for (const auto& record : logs.records())
        EXPECT_NE(record.level, LogLevel::fault) << record.message;
}

TEST_F(ReaderBridgeTest, ALargeRequestIsWrittenOffTheMainThreadAndKeepsItsPlace) {
    JSONValue::Object large;
    large["source"] = JSONValue::string(std::string(4 * ReaderBridge::inlineCodingLimit, 's'));
    auto first = test::startTask(bridge->send(BridgeMessageType::render, JSONValue::object(large)));
    auto second = test::startTask(bridge->send(BridgeMessageType::probe, JSONValue::object()));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return page->calls.size() == 2; }));
    EXPECT_EQ(page->request(0).type, "render");
    EXPECT_EQ(page->request(0).payload, JSONValue::object(large));
    EXPECT_EQ(page->request(1).type, "probe");
    page->answer(0, std::nullopt);
    page->answer(1, std::nullopt);
    finish(first);
    finish(second);
}

// --- Long texts in slices ---------------------------------------------------

using PageEntry = ReaderBridgePort::PageCall::Entry;

// A source with two-, three- and four-byte characters at every offset.
std::string mixedSource(std::size_t repeats) {
    std::string text;
    for (std::size_t i = 0; i < repeats; ++i) text += "é中🌸a\"\\";
    return text;
}

TEST_F(ReaderBridgeTest, ALongRequestCrossesInWholeCharacterSlicesAheadOfALaterRequest) {
    // Long enough for a render, short enough for a probe's envelope.
    bridge->setTransferSliceBytes(256);
    JSONValue::Object large;
    large["source"] = JSONValue::string(mixedSource(100));
    auto render = test::startTask(bridge->send(BridgeMessageType::render, JSONValue::object(large)));
    auto probe = test::startTask(bridge->send(BridgeMessageType::probe, JSONValue::object()));
    ASSERT_TRUE(test::runMainLoopUntil([&] {
        return !page->calls.empty() && page->calls.back().page.entry == PageEntry::message &&
               page->calls.back().page.transfer.empty();
    }));

    // Slices 0…n-2, the last one with the entry that answers, then the probe.
    const std::size_t count = page->calls.size() - 1;
    ASSERT_GT(count, 3u);
    std::string joined;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& call = page->calls[i].page;
        EXPECT_EQ(call.entry, i + 1 < count ? PageEntry::appendSlice : PageEntry::message) << i;
        EXPECT_EQ(call.index, static_cast<std::int64_t>(i));
        EXPECT_EQ(call.transfer, page->calls[0].page.transfer);
        EXPECT_LE(call.text.size(), 256u);
        EXPECT_TRUE(utf8::isValid(call.text)) << "slice " << i << " cuts a character";
        joined += call.text;
    }
    EXPECT_EQ(page->calls[count - 1].page.replySliceBytes, 256u);
    const BridgeEnvelope sent = BridgeEnvelope::decode(joined);
    EXPECT_EQ(page->calls[0].page.transfer, sent.messageID);
    EXPECT_EQ(sent.payload, JSONValue::object(large));
    EXPECT_EQ(page->request(count).type, "probe");

    page->answer(count, replyTo(page->request(count), "capabilities"));
    page->answer(count - 1, replyTo(sent, "rendered"));
    finish(render);
    finish(probe);
    EXPECT_FALSE(render->error);
    EXPECT_FALSE(probe->error);
}

TEST_F(ReaderBridgeTest, ALongReplyIsTakenInSlicesAndKeepsItsPlaceBeforeLaterEvents) {
    auto outcome = start(BridgeMessageType::probe);
    const std::string whole = replyTo(page->request(0), "capabilities",
                                      R"({"text":)" + JSONValue::string(mixedSource(10)).serialized() + "}");
    const std::string parts[] = {whole.substr(0, 40), whole.substr(40, 100), whole.substr(140)};
    page->answer(0, "#3 reply-7\n" + parts[0]);
    // An event posted after the reply's first slice waits behind the reply.
    page->post(event("activeHeading", R"({"id":"h","index":2})"));
    for (std::int64_t index = 1; index < 3; ++index) {
        ASSERT_TRUE(test::runMainLoopUntil([&] { return page->calls.size() == static_cast<std::size_t>(index) + 1; }));
        const auto& call = page->calls.back().page;
        EXPECT_EQ(call.entry, PageEntry::takeReplySlice);
        EXPECT_EQ(call.transfer, "reply-7");
        EXPECT_EQ(call.index, index);
        EXPECT_TRUE(delegate->events.empty()) << "the event passed a reply still coming in";
        page->answer(page->calls.size() - 1, parts[index]);
    }
    finish(outcome);
    ASSERT_FALSE(outcome->error) << bridgeError(*outcome).what();
    EXPECT_EQ(outcome->value->payload, *JSONValue::parse(whole).find("payload"));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !delegate->events.empty(); }));
    EXPECT_EQ(delegate->events, std::vector<std::string>{"activeHeading h 2"});
}

TEST_F(ReaderBridgeTest, ATransferCutShortFailsItsRequestAndHoldsNothingUp) {
    using End = ReaderBridgePort::PageEnd;
    struct Case {
        const char* name;
        bool duringReply;  // else while the request's slices go out
        std::optional<End> end;  // else the page answers a slice with nothing
    };
    const Case cases[] = {
        {"page replaced while sending", false, End::pageReplaced},
        {"process ended while sending", false, End::webProcessTerminated},
        {"page replaced while taking the reply", true, End::pageReplaced},
        {"reply slice lost", true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        page = std::make_shared<FakeWebView>();
        bridge->attach(page);
        bridge->setTransferSliceBytes(c.duringReply ? ReaderBridge::transferSliceBytes : 256);
        JSONValue::Object large;
        large["source"] = JSONValue::string(mixedSource(100));
        auto outcome = test::startTask(bridge->send(BridgeMessageType::render, JSONValue::object(large)));
        const std::size_t sentBefore = c.duringReply ? 1 : 2;
        ASSERT_TRUE(test::runMainLoopUntil([&] { return page->calls.size() >= sentBefore || outcome->finished; }));
        if (c.duringReply) {
            page->answer(0, "#2 reply-1\n{");
            ASSERT_TRUE(test::runMainLoopUntil([&] { return page->calls.size() == 2; }));
        }
        if (c.end) {
            page->end(*c.end);
        } else {
            page->answer(1, std::nullopt);
        }
        finish(outcome);
        EXPECT_TRUE(outcome->error);
        if (c.end) {
            EXPECT_FALSE(page->abandoned.empty());
        }

        // No slice of the failed request follows; the next request and the
        // page's events go through.
        const std::size_t before = page->calls.size();
        auto next = start(BridgeMessageType::probe);
        EXPECT_EQ(page->calls.size(), before + 1);
        EXPECT_TRUE(page->calls.back().page.transfer.empty());
        page->answer(page->calls.size() - 1, replyTo(page->request(page->calls.size() - 1), "capabilities"));
        finish(next);
        EXPECT_FALSE(next->error);
        delegate->events.clear();
        page->post(event("activeHeading", R"({"id":"h","index":1})"));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return !delegate->events.empty(); }));
    }
}

// --- Page events ------------------------------------------------------------

TEST_F(ReaderBridgeTest, PageEventsAreCheckedInOrderAndDroppedWithTheirLine) {
    const std::string session = "SESSION";
    const auto message = [&](bool mainFrame, const void* webView) {
        Message m;
        m.handlerName = "orvik";
        m.fromMainFrame = mainFrame;
        m.webView = webView;
        m.bodyJSON = mainFrame ? event("ready") : "{";  // a sub-frame's body is never looked at
        return m;
    };
    const std::string noPayload = event("ready").substr(0, event("ready").find(R"(,"payload")")) + "}";
    const struct {
        std::variant<std::optional<std::string>, Message> post;  // a body for "orvik", or all
        std::string line;  // "" = no line at all
    } cases[] = {
        {Message{.handlerName = "other", .bodyJSON = event("ready")}, ""},
        {message(false, nullptr), "丢弃：消息来自非主 frame"},
        {message(true, &session), "丢弃：消息来自其他 WKWebView"},
        {std::nullopt, "丢弃：body 不是 JSON 对象"},
        {"[" + event("ready") + "]", "丢弃：body 不是 JSON 对象"},
        {R"("ready")", "丢弃：body 不是 JSON 对象"},
        {noPayload, "丢弃：信封解码失败 <private>"},
        {event("ready", "{}", "", "1.5"), "丢弃：信封解码失败 <private>"},
        {event("bogus", "{}", "", "0"), "丢弃：protocolVersion = 0"},
        {event("Render"), "丢弃：未知类型 <private>"},
        {event("ready", "{}", "OTHER"), "丢弃：viewSessionID 不匹配（ready）"},
        {event("activeHeading", R"({"id":"a","index":1})", ""),
         "丢弃：viewSessionID 不匹配（activeHeading）"},
        {event("rendered", "{}", "OTHER"), "丢弃：viewSessionID 不匹配（rendered）"},
        {event("rendered"), "丢弃：rendered 不应由 JS 主动发送"},
        {event("findResult"), "丢弃：findResult 不应由 JS 主动发送"},
        {event("setFonts"), "丢弃：setFonts 不应由 JS 主动发送"},
        {event("error", R"({"code":"x"})"), "丢弃：error payload 解码失败"},
        {event("activeHeading", R"({"id":"a","index":0.5})"), "丢弃：activeHeading payload 解码失败"},
        {event("layoutReport"), "丢弃：layoutReport payload 解码失败 <private>"},
        {event("diagramsProgress"), "丢弃：diagramsProgress payload 解码失败 <private>"},
        {event("diagramRequest", R"({"diagramID":"d","source":""})"),
         "丢弃：diagramRequest payload 解码失败 <private>"},
        {event("copyText", R"({"text":"t"})"), "丢弃：copyText payload 解码失败"},
        {event("openLink", R"({"href":"x","kind":"mailto"})"),
         "丢弃：openLink payload 解码失败 <private>"},
        {event("anchorRestored", "null"), "丢弃：anchorRestored payload 解码失败 <private>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        logs.clear();
        if (const auto* body = std::get_if<std::optional<std::string>>(&c.post)) {
            page->post(*body);
        } else {
            page->deliver(std::get<Message>(c.post));
        }
        EXPECT_EQ(bridgeLines(), c.line.empty() ? std::vector<std::string>{}
                                                : std::vector<std::string>{"error: " + c.line});
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
    using End = ReaderBridgePort::PageEnd;
    const auto what = [](const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            return std::string(typeid(e).name()) + " " + e.what();
        }
    };
    const std::pair<End, std::exception_ptr> cases[] = {
        {End::webProcessTerminated, std::make_exception_ptr(PageCallError::webProcessTerminated())},
        {End::pageReplaced, std::make_exception_ptr(PageCallError::pageReplaced())},
        {End::webViewGone, std::make_exception_ptr(BridgeError::notAttached())},
    };
    for (const auto& [end, error] : cases) {
        page = std::make_shared<FakeWebView>();
        bridge->attach(page);
        auto outcome = start(BridgeMessageType::render);
        page->end(end);
        finish(outcome);
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(what(outcome->error), what(error));
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
    MainThread::drainForTesting();
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
