#include "Protocol/Bridge/ReaderBridge.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <string>
#include <utility>
#include <variant>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Platform/Json/CodingError.hpp"
#include "Platform/Json/PayloadCodec.hpp"
#include "Protocol/Envelope/PageCallError.hpp"

namespace larkspin {

namespace {

// About the length of a payload's JSON text: enough to tell a small request
// from one that carries a document. Requests have few values, so the walk is
// short whatever their strings hold.
std::size_t estimatedSize(const JSONValue& value) {
    switch (value.kind()) {
        case JSONValue::Kind::string:
            return value.stringValue()->size() + 2;
        case JSONValue::Kind::array: {
            std::size_t size = 2;
            for (const auto& element : *value.arrayValue()) size += estimatedSize(element) + 1;
            return size;
        }
        case JSONValue::Kind::object: {
            std::size_t size = 2;
            for (const auto& [key, member] : *value.objectValue()) {
                size += key.size() + 4 + estimatedSize(member);
            }
            return size;
        }
        default:
            return 8;
    }
}

// The end of a slice that starts at `begin` and holds at most `limit` bytes,
// moved back so that it does not cut a UTF-8 sequence.
std::size_t sliceEnd(const std::string& text, std::size_t begin, std::size_t limit) {
    std::size_t end = begin + limit;
    if (end >= text.size()) return text.size();
    std::size_t cut = end;
    while (cut > begin && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut > begin ? cut : end;
}

// The header of a reply the page answers in slices: "#<count> <transfer>\n",
// then the first slice. False when the text does not start with one.
bool readSlicedReplyHeader(const std::string& text, std::int64_t& count, std::string& transfer,
                           std::size_t& headerLength) {
    if (text.empty() || text[0] != '#') return false;
    const std::size_t space = text.find(' ');
    const std::size_t newline = text.find('\n');
    if (space == std::string::npos || newline == std::string::npos || space > newline ||
        space == 1 || space > 10 || newline == space + 1) {
        return false;
    }
    count = 0;
    for (std::size_t i = 1; i < space; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        count = count * 10 + (text[i] - '0');
    }
    if (count < 1) return false;
    transfer = text.substr(space + 1, newline - space - 1);
    headerLength = newline + 1;
    return true;
}

}  // namespace

// What the web view's registration holds: it reaches the bridge only while
// the bridge lives and has not let go of it.
class ReaderBridge::ScriptMessageProxy {
public:
    std::weak_ptr<ReaderBridge> bridge;

    void didReceive(const ReaderBridgePort::ScriptMessage& message) const {
        if (auto target = bridge.lock()) target->handle(message);
    }
};

// One request waiting for the page. Whoever ends it first (the page's answer
// or the bridge, when the page or the view goes away) takes the completion;
// a later attempt finds it gone and does nothing.
struct ReaderBridge::PendingCall {
    std::optional<Completion<DecodedReply>> done;
    std::optional<ReaderBridgePort::CallID> callID;
    // The bridge that takes its answer (another one after a take-over).
    std::weak_ptr<ReaderBridge> owner;
    // How its reply is read; fixed before the call starts.
    std::string messageID;
    std::optional<BridgeMessageType> expected;
    PayloadReader reader = nullptr;
    // A reply that comes in slices: its place among the inbound texts and
    // the slices so far.
    std::shared_ptr<Inbound> assembling;
    std::string replyTransfer;
    std::int64_t replySlices = 0;
};

// A page event as the worker queue hands it to the main thread: the envelope
// and its payload read, or why not.
struct ReaderBridge::DecodedEvent {
    enum class Outcome { envelope, undecodable, notAnObject };
    Outcome outcome = Outcome::notAnObject;
    std::string detail;       // why the text or the envelope could not be decoded
    BridgeEnvelope envelope;  // its payload dropped once read
    std::variant<std::monostate, BridgeErrorPayload, ActiveHeadingPayload, LayoutReportPayload,
                 DiagramsProgressPayload, DiagramRequestPayload, CopyTextPayload, OpenLinkPayload,
                 AnchorRestoredPayload>
        payload;
    std::optional<std::string> payloadError;
};

// A reply or an event from its arrival until it is handled. The main thread
// fills it in and queues it; decode() (on the worker queue, or at once for a
// small text) reads the text and sets `decoded`; the main thread then hands
// it on in the order of arrival.
struct ReaderBridge::Inbound {
    // A reply: the call it answers and what the web view returned.
    std::shared_ptr<PendingCall> call;
    std::string messageID;
    std::optional<BridgeMessageType> expected;
    PayloadReader reader = nullptr;
    ReaderBridgePort::CallResult result;
    // A reply that came in slices: joined into `result` by decode().
    std::vector<std::string> replySlices;
    // An event: the body's text.
    std::optional<std::string> body;

    std::optional<DecodedReply> reply;
    std::exception_ptr replyError;
    std::optional<DecodedEvent> event;
    std::atomic<bool> decoded = false;
};

// Counts a request whose text is being written on the worker queue, until its
// task resumes on the main thread (where its call starts in the same turn).
class ReaderBridge::EncodingMark {
public:
    explicit EncodingMark(std::weak_ptr<ReaderBridge> bridge) : bridge_(std::move(bridge)) {
        if (auto self = bridge_.lock()) ++self->requestsEncoding_;
    }
    ~EncodingMark() {
        if (auto self = bridge_.lock()) --self->requestsEncoding_;
    }
    EncodingMark(const EncodingMark&) = delete;
    EncodingMark& operator=(const EncodingMark&) = delete;

private:
    std::weak_ptr<ReaderBridge> bridge_;
};

ReaderBridge::ReaderBridge(std::string documentID, std::string viewSessionID)
    : viewSessionID_(std::move(viewSessionID)),
      documentID_(std::move(documentID)),
      proxy_(std::make_shared<ScriptMessageProxy>()) {}

std::shared_ptr<ReaderBridge> ReaderBridge::create(std::string documentID,
                                                   std::string viewSessionID) {
    return std::shared_ptr<ReaderBridge>(
        new ReaderBridge(std::move(documentID), std::move(viewSessionID)));
}

ReaderBridge::~ReaderBridge() {
    // Released without a teardown: the handler stays registered (and ignores
    // what it receives), but nobody is left to take a reply, so waiting
    // requests end now rather than when (or if) the page answers.
    if (port_) port_->setPageEndHandler({});
    failPendingCalls(std::make_exception_ptr(BridgeError::notAttached()));
}

const void* ReaderBridge::webView() const {
    if (!port_ || !port_->isAlive()) return nullptr;
    return port_->webViewIdentity();
}

void ReaderBridge::attach(std::shared_ptr<ReaderBridgePort> port) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    teardown();
    if (!port || !port->isAlive()) return;
    proxy_->bridge = weak_from_this();
    auto receive = [proxy = proxy_](const ReaderBridgePort::ScriptMessage& message) {
        proxy->didReceive(message);
    };
    if (!port->registerMessageHandler(handlerName, std::move(receive))) {
        AppLog::bridge.fault("web view 已有 %{public}s 消息处理者，bridge 未绑定", handlerName);
        proxy_->bridge.reset();
        return;
    }
    port_ = std::move(port);
    listenForPageEnd();
}

void ReaderBridge::attachTakingOverFrom(ReaderBridge& other) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (&other == this || !other.port_ || !other.port_->isAlive()) return;
    teardown();
    // The registered proxy moves: nothing is unregistered or registered again.
    proxy_ = std::exchange(other.proxy_, std::make_shared<ScriptMessageProxy>());
    proxy_->bridge = weak_from_this();
    port_ = std::move(other.port_);
    other.port_.reset();
    // Requests the other bridge still awaits wait on this same page; they now
    // end with this binding.
    pending_ = std::exchange(other.pending_, {});
    std::erase_if(pending_, [](const auto& call) { return !call->done; });
    for (const auto& call : pending_) call->owner = weak_from_this();
    outbound_ = std::exchange(other.outbound_, {});
    listenForPageEnd();
    if (!outbound_.empty()) scheduleOutbound();
}

void ReaderBridge::teardown() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (port_) {
        if (port_->isAlive()) port_->unregisterMessageHandler(handlerName);
        port_->setPageEndHandler({});
    }
    proxy_->bridge.reset();
    // Events still being read belong to the binding that ends here.
    inbound_.clear();
    failPendingCalls(std::make_exception_ptr(BridgeError::notAttached()));
    port_.reset();
}

void ReaderBridge::webProcessDidTerminate() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    pageDidEnd(ReaderBridgePort::PageEnd::webProcessTerminated);
}

void ReaderBridge::listenForPageEnd() {
    port_->setPageEndHandler([weak = weak_from_this()](ReaderBridgePort::PageEnd end) {
        if (auto self = weak.lock()) self->pageDidEnd(end);
    });
}

void ReaderBridge::pageDidEnd(ReaderBridgePort::PageEnd end) {
    switch (end) {
        case ReaderBridgePort::PageEnd::webProcessTerminated:
            failPendingCalls(std::make_exception_ptr(PageCallError::webProcessTerminated()));
            break;
        case ReaderBridgePort::PageEnd::pageReplaced:
            failPendingCalls(std::make_exception_ptr(PageCallError::pageReplaced()));
            break;
        case ReaderBridgePort::PageEnd::webViewGone:
            failPendingCalls(std::make_exception_ptr(BridgeError::notAttached()));
            break;
    }
    deliverInbound();  // what waited behind a reply that was still coming in
}

void ReaderBridge::failPendingCalls(std::exception_ptr error) {
    auto calls = std::exchange(pending_, {});
    outbound_.clear();  // slices and calls not yet made belong to the ended calls
    for (const auto& call : calls) {
        if (const auto item = std::exchange(call->assembling, nullptr)) {
            // Its slices stop coming: the place it held is given up.
            item->decoded.store(true, std::memory_order_release);
        }
        if (!call->done) continue;
        if (port_ && call->callID) port_->abandonCall(*call->callID);
        ReaderBridgePort::CallResult result;
        result.error = error;
        finishCall(call, std::move(result));
    }
}

void ReaderBridge::finishCall(const std::shared_ptr<PendingCall>& call,
                              ReaderBridgePort::CallResult result) {
    std::optional<Completion<DecodedReply>> done = std::exchange(call->done, std::nullopt);
    if (!done) return;
    done->fail(result.error ? result.error : std::make_exception_ptr(BrokenPromise()));
}

std::shared_ptr<SerialExecutor> ReaderBridge::codingQueue() {
    if (!codingQueue_) codingQueue_ = std::make_shared<SerialExecutor>("reader-bridge");
    return codingQueue_;
}

void ReaderBridge::startCall(const std::shared_ptr<PendingCall>& call, std::string messageJSON) {
    std::erase_if(pending_, [](const auto& waiting) { return !waiting->done; });
    pending_.push_back(call);
    call->owner = weak_from_this();
    // Moved, not copied: the slices are cut from it as they leave.
    auto text = std::make_shared<const std::string>(std::move(messageJSON));
    const bool sliced = text->size() > transferSliceBytes_;
    std::size_t begin = 0;
    std::int64_t index = 0;
    while (text->size() - begin > transferSliceBytes_) {
        const std::size_t end = sliceEnd(*text, begin, transferSliceBytes_);
        outbound_.push_back({call, text, begin, end, index++, true, false});
        begin = end;
    }
    outbound_.push_back({call, text, begin, text->size(), index, sliced, true});
    if (!outboundScheduled_) sendNextOutbound();
}

void ReaderBridge::scheduleOutbound() {
    if (outboundScheduled_) return;
    outboundScheduled_ = true;
    MainThread::post([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->outboundScheduled_ = false;
            self->sendNextOutbound();
        }
    });
}

// Makes the first waiting page call (one per turn: WebKit converts each
// call's text on the main thread).
void ReaderBridge::sendNextOutbound() {
    while (!outbound_.empty() && port_) {
        Outbound item = std::move(outbound_.front());
        outbound_.pop_front();
        const std::shared_ptr<PendingCall> call = item.call;
        if (!call->done) continue;  // ended meanwhile
        ReaderBridgePort::PageCall page;
        page.entry = item.last ? ReaderBridgePort::PageCall::Entry::message
                               : ReaderBridgePort::PageCall::Entry::appendSlice;
        page.text = item.begin == 0 && item.end == item.text->size()
                        ? *item.text
                        : item.text->substr(item.begin, item.end - item.begin);
        if (item.sliced) page.transfer = call->messageID;
        page.index = item.index;
        // After the last slice the whole text would be freed here: on a worker instead.
        if (item.sliced && item.text.use_count() == 1) releaseOnWorker(std::move(item.text));
        item.text.reset();
        if (item.last) {
            page.replySliceBytes = transferSliceBytes_;
            call->callID = port_->callPage(std::move(page), [call](ReaderBridgePort::CallResult result) {
                // A bridge that is gone has ended its calls already.
                if (auto owner = call->owner.lock()) owner->receiveReply(call, std::move(result));
            });
        } else {
            // A slice's answer is not needed: the page refuses a transfer
            // that misses one, and the last call fails.
            call->callID = port_->callPage(std::move(page), [](ReaderBridgePort::CallResult) {});
        }
        break;
    }
    if (!outbound_.empty()) scheduleOutbound();
}

Task<BridgeEnvelope> ReaderBridge::send(BridgeMessageType type, JSONValue payload) {
    return performSend(weak_from_this(), type, std::move(payload));
}

Task<BridgeEnvelope> ReaderBridge::performSend(std::weak_ptr<ReaderBridge> weak,
                                               BridgeMessageType type, JSONValue payload) {
    DecodedReply reply = co_await performExchange(std::move(weak), type, std::move(payload),
                                                  nullptr, 0, std::nullopt, nullptr);
    co_return std::move(reply.envelope);
}

std::string ReaderBridge::encodeRequest(const BridgeEnvelope& request) {
    const JSONValue requestJSON = request.jsonValue();  // a CodingError goes to the caller
    if (!requestJSON.objectValue()) throw BridgeError::invalidRequest();
    return requestJSON.serialized();
}

Task<ReaderBridge::DecodedReply> ReaderBridge::performExchange(
    std::weak_ptr<ReaderBridge> weak, BridgeMessageType type, JSONValue payload,
    PayloadWriter write, std::size_t approximateBytes, std::optional<BridgeMessageType> expected,
    PayloadReader reader) {
    auto self = weak.lock();
    if (!self || !self->isAttached()) throw BridgeError::notAttached();
    BridgeEnvelope request =
        BridgeEnvelope::request(type, std::move(payload), self->viewSessionID_, self->documentID_,
                                self->sourceRevision_, self->renderGeneration_);
    const std::string messageID = request.messageID;
    std::string messageJSON;
    // A small request is written at once, unless a larger one is still being
    // written: requests reach the page in the order they were sent.
    const std::size_t size = write ? approximateBytes : estimatedSize(request.payload);
    if (self->requestsEncoding_ == 0 && size <= self->inlineCodingLimit_) {
        if (write) request.payload = write();
        messageJSON = encodeRequest(request);
        self.reset();
    } else {
        const std::shared_ptr<SerialExecutor> queue = self->codingQueue();
        self.reset();
        const EncodingMark mark(weak);
        auto encode = [request = std::move(request), write = std::move(write)]() mutable {
            if (write) request.payload = write();
            return encodeRequest(request);
        };
        messageJSON = co_await runOn(*queue, std::move(encode));
    }

    auto start = [weak, messageID, expected, reader,
                  messageJSON = std::move(messageJSON)](Completion<DecodedReply> done) mutable {
        auto call = std::make_shared<PendingCall>();
        call->done.emplace(std::move(done));
        call->messageID = messageID;
        call->expected = expected;
        call->reader = reader;
        auto bridge = weak.lock();
        if (!bridge || !bridge->isAttached()) {
            ReaderBridgePort::CallResult result;
            result.error = std::make_exception_ptr(BridgeError::notAttached());
            finishCall(call, std::move(result));
            return;
        }
        bridge->startCall(call, std::move(messageJSON));
    };
    DecodedReply reply = co_await awaitCompletion<DecodedReply>(std::move(start));

    if (auto again = weak.lock()) {
        again->renderGeneration_ =
            std::max(again->renderGeneration_, reply.envelope.renderGeneration);
    }
    if (reply.limits) logRenderLimits(*reply.limits);
    if (reply.payloadError) std::rethrow_exception(reply.payloadError);
    co_return reply;
}

// ---- replies and events in ---------------------------------------------------

void ReaderBridge::receiveReply(const std::shared_ptr<PendingCall>& call,
                                ReaderBridgePort::CallResult result) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!call->done) return;  // ended already (abandoned): the answer is dropped unread
    std::int64_t count = 0;
    std::string transfer;
    std::size_t headerLength = 0;
    if (!result.error && result.replyJSON &&
        readSlicedReplyHeader(*result.replyJSON, count, transfer, headerLength)) {
        // The page keeps the rest: the reply takes its place now and is read
        // once every slice is in.
        auto item = std::make_shared<Inbound>();
        item->call = call;
        item->messageID = call->messageID;
        item->expected = call->expected;
        item->reader = call->reader;
        result.replyJSON->erase(0, headerLength);
        item->replySlices.push_back(std::move(*result.replyJSON));
        inbound_.push_back(item);
        call->assembling = item;
        call->replyTransfer = std::move(transfer);
        call->replySlices = count;
        takeReplySlice(call);
        return;
    }
    auto item = std::make_shared<Inbound>();
    item->call = call;
    item->messageID = call->messageID;
    item->expected = call->expected;
    item->reader = call->reader;
    item->result = std::move(result);
    const std::size_t size = item->result.replyJSON ? item->result.replyJSON->size() : 0;
    receive(std::move(item), size);
}

void ReaderBridge::takeReplySlice(const std::shared_ptr<PendingCall>& call) {
    const auto taken = static_cast<std::int64_t>(call->assembling->replySlices.size());
    if (taken >= call->replySlices) {
        std::shared_ptr<Inbound> item = std::exchange(call->assembling, nullptr);
        std::size_t size = 0;
        for (const auto& slice : item->replySlices) size += slice.size();
        item->result.replyJSON.emplace();  // joined by decode()
        startDecoding(std::move(item), size);
        return;
    }
    if (!port_) return;  // unbound: its calls have ended
    ReaderBridgePort::PageCall page;
    page.entry = ReaderBridgePort::PageCall::Entry::takeReplySlice;
    page.transfer = call->replyTransfer;
    page.index = taken;
    call->callID = port_->callPage(std::move(page), [call](ReaderBridgePort::CallResult result) {
        if (auto owner = call->owner.lock()) owner->receiveReplySlice(call, std::move(result));
    });
}

void ReaderBridge::receiveReplySlice(const std::shared_ptr<PendingCall>& call,
                                     ReaderBridgePort::CallResult result) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!call->done || !call->assembling) return;
    if (result.error || !result.replyJSON) {
        // The page failed or lost the reply: the request fails in its place.
        std::shared_ptr<Inbound> item = std::exchange(call->assembling, nullptr);
        item->replySlices.clear();
        item->result = std::move(result);
        if (!item->result.error) {
            item->result.error = std::make_exception_ptr(
                BridgeError::invalidResponse("回复分片缺失：" + call->replyTransfer));
        }
        startDecoding(std::move(item), 0);
        return;
    }
    call->assembling->replySlices.push_back(std::move(*result.replyJSON));
    takeReplySlice(call);
}

void ReaderBridge::receive(std::shared_ptr<Inbound> item, std::size_t size) {
    inbound_.push_back(item);
    startDecoding(std::move(item), size);
}

void ReaderBridge::startDecoding(std::shared_ptr<Inbound> item, std::size_t size) {
    if (!inbound_.empty() && inbound_.front() == item && !replyBeingTaken_ && size <= inlineCodingLimit_) {
        decode(*item);
        deliverInbound();
        return;
    }
    std::weak_ptr<ReaderBridge> weak = weak_from_this();
    auto job = [item, weak]() mutable {
        decode(*item);
        item.reset();
        MainThread::post([weak] {
            if (auto self = weak.lock()) self->deliverInbound();
        });
    };
    if (!codingQueue()->submit(std::move(job))) {
        decode(*item);  // the queue is shutting down: read it here rather than never
        deliverInbound();
    }
}

void ReaderBridge::decode(Inbound& item) {
    if (item.call) {
        if (!item.replySlices.empty()) {
            std::string& text = item.result.replyJSON.emplace();
            std::size_t size = 0;
            for (const auto& slice : item.replySlices) size += slice.size();
            text.reserve(size);
            for (const auto& slice : item.replySlices) text += slice;
            item.replySlices.clear();
        }
        if (!item.result.error) {
            try {
                item.reply = decodeReply(item);
            } catch (...) {
                item.replyError = std::current_exception();
            }
        }
        item.result.replyJSON.reset();  // the text goes here, not on the main thread
    } else {
        item.event = decodeEvent(item.body);
        item.body.reset();
    }
    item.decoded.store(true, std::memory_order_release);
}

void ReaderBridge::deliverInbound() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const auto keep = shared_from_this();  // a delegate may let go of the bridge
    while (!inbound_.empty() && !replyBeingTaken_) {
        const std::shared_ptr<Inbound> item = inbound_.front();
        if (!item->decoded.load(std::memory_order_acquire)) return;
        inbound_.pop_front();
        if (!item->call) {
            handleEvent(*item->event);
            continue;
        }
        std::optional<Completion<DecodedReply>> done = std::exchange(item->call->done, std::nullopt);
        if (!done) continue;  // ended meanwhile: dropped
        if (item->result.error) {
            done->fail(item->result.error);
        } else if (item->replyError) {
            done->fail(item->replyError);
        } else {
            done->resolve(std::move(*item->reply));
        }
        // The waiting task resumes on a later turn; what arrived after this
        // reply waits until it has.
        replyBeingTaken_ = true;
        MainThread::post([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->replyBeingTaken_ = false;
                self->deliverInbound();
            }
        });
    }
}

BridgeEnvelope ReaderBridge::validateReply(const std::string& messageID, const ReplyText& reply) {
    static constexpr const char* notAnObject = "返回值不是 JSON 对象";
    if (!reply) throw BridgeError::invalidResponse(notAnObject);
    // Every failure to decode the reply is an invalid response, whether the
    // text itself is refused (nested too deep, say) or the envelope in it.
    BridgeEnvelope envelope;
    try {
        const JSONValue json = JSONValue::parse(*reply);
        if (json.kind() != JSONValue::Kind::object && json.kind() != JSONValue::Kind::array) {
            throw BridgeError::invalidResponse(notAnObject);
        }
        envelope = BridgeEnvelope::decode(json);
    } catch (const CodingError& error) {
        throw BridgeError::invalidResponse(error.what());
    }
    if (envelope.protocolVersion != BridgeEnvelope::currentProtocolVersion) {
        throw BridgeError::invalidResponse("protocolVersion = " +
                                           std::to_string(envelope.protocolVersion));
    }
    if (envelope.messageID != messageID) {
        throw BridgeError::messageIDMismatch(messageID, envelope.messageID);
    }
    if (envelope.messageType() == BridgeMessageType::error) {
        const auto failure = envelope.decodePayload<BridgeErrorPayload>();
        throw BridgeError::remote(failure.code, failure.message);
    }
    return envelope;
}

ReaderBridge::DecodedReply ReaderBridge::decodeReply(const Inbound& item) {
    DecodedReply reply;
    reply.envelope = validateReply(item.messageID, item.result.replyJSON);
    if (reply.envelope.messageType() == BridgeMessageType::rendered) {
        // Only the limits: the payload itself is read once, by its reader.
        try {
            const JSONValue* limits = reply.envelope.payload.find("limits");
            if (limits && !limits->isNull()) {
                reply.limits = PayloadCodec::decode<RenderLimitsReport>(*limits);
            }
        } catch (const CodingError&) {
            reply.limits.reset();
        }
    }
    if (!item.reader) return reply;
    if (item.expected && reply.envelope.type != rawValue(*item.expected)) {
        reply.payloadError = std::make_exception_ptr(BridgeError::unexpectedType(reply.envelope.type));
    } else {
        try {
            reply.value = item.reader(reply.envelope);
        } catch (...) {
            reply.payloadError = std::current_exception();
        }
    }
    reply.envelope.payload = JSONValue();  // freed here, with the text
    return reply;
}

void ReaderBridge::logRenderLimits(const RenderLimitsReport& limits) {
    if (limits.isEmpty()) return;
    AppLog::bridge.info(
        "渲染触发复杂度上限：depthClamped=%{public}ld nodesClamped=%{public}ld "
        "codeTruncated=%{public}ld diagramsSkipped=%{public}ld",
        limits.depthClamped, limits.nodesClamped, limits.codeTruncated, limits.diagramsSkipped);
}

namespace {

template <typename Payload, typename Event>
void readEventPayload(Event& event) {
    try {
        event.payload = event.envelope.template decodePayload<Payload>();
    } catch (const CodingError& error) {
        event.payloadError = error.what();
    }
}

}  // namespace

ReaderBridge::DecodedEvent ReaderBridge::decodeEvent(const std::optional<std::string>& body) {
    DecodedEvent event;
    std::optional<JSONValue> json;
    if (body) {
        try {
            json = JSONValue::parse(*body);
        } catch (const CodingError& error) {
            event.outcome = DecodedEvent::Outcome::undecodable;
            event.detail = error.what();
            return event;
        }
    }
    if (!json || !json->objectValue()) {
        event.outcome = DecodedEvent::Outcome::notAnObject;
        return event;
    }
    try {
        event.envelope = BridgeEnvelope::decode(*json);
    } catch (const CodingError& error) {
        event.outcome = DecodedEvent::Outcome::undecodable;
        event.detail = error.what();
        return event;
    }
    json.reset();
    event.outcome = DecodedEvent::Outcome::envelope;
    const std::optional<BridgeMessageType> type = event.envelope.messageType();
    if (!type || !isPageEvent(*type)) return event;
    using T = BridgeMessageType;
    switch (*type) {
        case T::error: readEventPayload<BridgeErrorPayload>(event); break;
        case T::activeHeading: readEventPayload<ActiveHeadingPayload>(event); break;
        case T::layoutReport: readEventPayload<LayoutReportPayload>(event); break;
        case T::diagramsProgress: readEventPayload<DiagramsProgressPayload>(event); break;
        case T::diagramRequest: readEventPayload<DiagramRequestPayload>(event); break;
        case T::copyText: readEventPayload<CopyTextPayload>(event); break;
        case T::openLink: readEventPayload<OpenLinkPayload>(event); break;
        case T::anchorRestored: readEventPayload<AnchorRestoredPayload>(event); break;
        default: break;  // "ready": its payload is not read
    }
    event.envelope.payload = JSONValue();
    return event;
}

template <typename Payload>
void ReaderBridge::deliver(const DecodedEvent& event, std::string_view dropText, bool withDetail,
                           void (ReaderBridgeDelegate::*operation)(ReaderBridge&, const Payload&)) {
    if (event.payloadError) {
        if (withDetail) {
            AppLog::bridge.error(dropText, *event.payloadError);
        } else {
            AppLog::bridge.error(dropText);
        }
        return;
    }
    if (auto target = delegate_.lock()) ((*target).*operation)(*this, std::get<Payload>(event.payload));
}

void ReaderBridge::handle(const ReaderBridgePort::ScriptMessage& message) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (message.handlerName != handlerName) return;
    if (!message.fromMainFrame) {
        AppLog::bridge.error("丢弃：消息来自非主 frame");
        return;
    }
    const void* ownWebView = webView();
    if (ownWebView && message.webView && ownWebView != message.webView) {
        AppLog::bridge.error("丢弃：消息来自其他 WKWebView");
        return;
    }
    auto item = std::make_shared<Inbound>();
    item->body = message.bodyJSON;
    const std::size_t size = item->body ? item->body->size() : 0;
    receive(std::move(item), size);
}

void ReaderBridge::handleEvent(DecodedEvent& event) {
    switch (event.outcome) {
        case DecodedEvent::Outcome::undecodable:
            AppLog::bridge.error("丢弃：信封解码失败 %{private}s", event.detail);
            return;
        case DecodedEvent::Outcome::notAnObject:
            AppLog::bridge.error("丢弃：body 不是 JSON 对象");
            return;
        case DecodedEvent::Outcome::envelope:
            break;
    }
    const BridgeEnvelope& envelope = event.envelope;
    if (envelope.protocolVersion != BridgeEnvelope::currentProtocolVersion) {
        AppLog::bridge.error("丢弃：protocolVersion = %ld", envelope.protocolVersion);
        return;
    }
    const std::optional<BridgeMessageType> type = envelope.messageType();
    if (!type) {
        AppLog::bridge.error("丢弃：未知类型 %{private}s", envelope.type);
        return;
    }
    const bool anonymousHandshake =
        *type == BridgeMessageType::ready && envelope.viewSessionID.empty();
    if (!anonymousHandshake && envelope.viewSessionID != viewSessionID_) {
        AppLog::bridge.error("丢弃：viewSessionID 不匹配（%{public}s）", envelope.type);
        return;
    }
    if (!isPageEvent(*type)) {
        AppLog::bridge.error("丢弃：%{public}s 不应由 JS 主动发送", envelope.type);
        return;
    }

    using D = ReaderBridgeDelegate;
    switch (*type) {
        case BridgeMessageType::ready:
            AppLog::bridge.info("收到 ready（messageID %{public}s）", envelope.messageID);
            if (auto target = delegate_.lock()) target->bridgeDidBecomeReady(*this);
            return;
        case BridgeMessageType::error: {
            if (event.payloadError) {
                AppLog::bridge.error("丢弃：error payload 解码失败");
                return;
            }
            const auto& failure = std::get<BridgeErrorPayload>(event.payload);
            AppLog::bridge.error("JS 报错 %{public}s：%{private}s", failure.code, failure.message);
            if (auto target = delegate_.lock()) target->bridgeDidReceiveError(*this, failure);
            return;
        }
        case BridgeMessageType::activeHeading:
            deliver(event, "丢弃：activeHeading payload 解码失败", false,
                    &D::bridgeDidReportActiveHeading);
            return;
        case BridgeMessageType::layoutReport:
            deliver(event, "丢弃：layoutReport payload 解码失败 %{private}s", true,
                    &D::bridgeDidReceiveLayoutReport);
            return;
        case BridgeMessageType::diagramsProgress:
            deliver(event, "丢弃：diagramsProgress payload 解码失败 %{private}s", true,
                    &D::bridgeDidReportDiagramsProgress);
            return;
        case BridgeMessageType::diagramRequest:
            deliver(event, "丢弃：diagramRequest payload 解码失败 %{private}s", true,
                    &D::bridgeDidRequestDiagram);
            return;
        case BridgeMessageType::copyText:
            deliver(event, "丢弃：copyText payload 解码失败", false, &D::bridgeDidRequestCopy);
            return;
        case BridgeMessageType::openLink:
            deliver(event, "丢弃：openLink payload 解码失败 %{private}s", true,
                    &D::bridgeDidRequestOpenLink);
            return;
        case BridgeMessageType::anchorRestored:
            deliver(event, "丢弃：anchorRestored payload 解码失败 %{private}s", true,
                    &D::bridgeDidRestoreAnchor);
            return;
        default:
            return;  // not a page event: refused above
    }
}

}  // namespace larkspin
