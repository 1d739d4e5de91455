#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/Task.hpp"
#include "Protocol/Envelope/BridgeEnvelope.hpp"
#include "Protocol/Envelope/BridgeMessageType.hpp"
#include "Platform/Json/JSONValue.hpp"
#include "Protocol/Bridge/ReaderBridgeDelegate.hpp"
#include "Protocol/Bridge/ReaderBridgePort.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"

namespace larkspin {

// The native end of the renderer protocol for one reader web view.
//
// Requests: `send` stamps an envelope with the bridge's identifiers, hands it
// to the page function and awaits the page's reply, which must be a valid
// reply envelope to that very request. Page events: messages the page posts
// to the script message handler "orvik" pass a fixed series of checks (a
// failure is dropped with one "丢弃：…" line on the bridge log) and reach one
// delegate operation each.
//
// A bridge belongs to one view session. It is bound to a web view by
// `attach`, can take over an already loaded web view from another bridge
// (the prewarmer's) without touching the page's handler, and is unbound by
// `teardown`. The web view's registration holds a small proxy, which holds the
// bridge weakly; the bridge holds its web view and its delegate weakly.
//
// A request that waits when its page or web view goes away (teardown, the web
// view destroyed, its web process ended, another page loaded) or when the
// bridge is released ends at once with an error: the web view itself would
// never answer it.
//
// Texts crossing the bridge may be large (a render request holds the whole
// document; its reply every heading and block), so their coding is kept off
// the main thread: a request's JSON text is written, and a reply's or an
// event's text is read (envelope and payload), on a serial queue of the
// shared worker pool, and the main thread gets only the finished text or the
// decoded value. Texts of at most `inlineDecodeLimit` bytes are coded at once
// when nothing waits ahead of them. Replies and events are handled in the
// order they arrive, and an event that arrives after a reply is handled only
// after the task awaiting that reply has taken it.
//
// No single call carries more than `transferSliceBytes` of text either way,
// since WebKit converts a call's argument and its result on the main thread.
// A longer request text crosses in slices cut on character boundaries, one
// page call per main-loop turn (`appendMessageText`, then the last slice with
// `handleMessageText` naming the transfer); the page puts them together and
// handles the whole. Page calls leave in the order their requests were sent,
// so a request sent during a transfer follows it. A longer reply is kept by
// the page, which answers with its first slice under a header
// ("#<count> <transfer>\n"); the bridge takes the others one call each and
// reads the joined text on the worker queue. The reply keeps its place among
// the page's events from the arrival of its first slice.
//
// Main thread only. Create with `create`; the bridge must be owned by a
// shared_ptr.
class ReaderBridge : public std::enable_shared_from_this<ReaderBridge> {
public:
    // The script message handler's name.
    static constexpr const char* handlerName = "orvik";

    static std::shared_ptr<ReaderBridge> create(std::string documentID, std::string viewSessionID);
    ~ReaderBridge();
    ReaderBridge(const ReaderBridge&) = delete;
    ReaderBridge& operator=(const ReaderBridge&) = delete;

    const std::string& viewSessionID() const { return viewSessionID_; }
    const std::string& documentID() const { return documentID_; }
    void setDocumentID(std::string documentID) { documentID_ = std::move(documentID); }
    std::int64_t sourceRevision() const { return sourceRevision_; }
    void setSourceRevision(std::int64_t revision) { sourceRevision_ = revision; }
    // The highest render generation of a successful reply; it only rises.
    std::int64_t renderGeneration() const { return renderGeneration_; }

    std::shared_ptr<ReaderBridgeDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ReaderBridgeDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // The bound web view (its address); null when unbound or the view is gone.
    const void* webView() const;
    bool isAttached() const { return webView() != nullptr; }

    // Binds the bridge to the web view behind `port` (after a teardown of any
    // earlier binding); the WebKit port registers "orvik" with the web view's
    // user content manager, which must not carry that handler already. Tests
    // use a fake port.
    void attach(std::shared_ptr<ReaderBridgePort> port);
    // Moves `other`'s web view and its registered handler to this bridge, which
    // keeps its own session, document and counters; nothing is registered or
    // unregistered, so the loaded page and its handler survive. `other` is
    // left unbound. Does nothing when `other`'s web view is gone.
    void attachTakingOverFrom(ReaderBridge& other);
    // Unbinds: removes "orvik" from a live web view, and ends every request
    // still waiting with BridgeError::notAttached. Safe to repeat.
    void teardown();
    // The web view's process ended: every request still waiting ends with
    // PageCallError::webProcessTerminated; the bridge stays bound. The port
    // does not hear this itself: the web view's owner, the one listener of
    // the process end, tells the bridge before it acts on the end itself.
    void webProcessDidTerminate();

    // Sends a request and awaits its reply envelope. Throws BridgeError
    // (notAttached, invalidRequest, invalidResponse, messageIDMismatch,
    // remote), PageCallError for a failed page call, or CodingError for an
    // envelope that cannot be encoded or an "error" reply whose payload
    // cannot be decoded. A reply that cannot be decoded as an envelope, for
    // whatever reason, is invalidResponse. The reply's type is not compared
    // with the request: callers do that (BridgeError::unexpectedType). A
    // "rendered" reply's complexity limits are logged here, once, when any
    // was hit.
    Task<BridgeEnvelope> send(BridgeMessageType type, JSONValue payload);

    // Sends a request and awaits its reply's payload read as `Reply`; the
    // reply must be of type `expected`. The payload is read off the main
    // thread with the envelope, and only the value reaches the caller. Throws
    // what `send` throws, then BridgeError::unexpectedType for a reply of
    // another type and CodingError for a payload that does not fit `Reply`
    // (the reply's render generation counts either way).
    template <typename Reply>
    Task<Reply> request(BridgeMessageType type, JSONValue payload, BridgeMessageType expected) {
        return performRequest<Reply>(weak_from_this(), type, std::move(payload), expected);
    }

    // Writes a request's payload; run on the worker queue.
    using PayloadWriter = std::function<JSONValue()>;

    // As `request`, with the payload written by `write` (which holds what it
    // needs, such as a document's text shared, never copied on the main
    // thread): on the worker queue, or at once when `approximateBytes` is
    // within the inline coding limit and nothing waits ahead of it.
    template <typename Reply>
    Task<Reply> request(BridgeMessageType type, PayloadWriter write, std::size_t approximateBytes,
                        BridgeMessageType expected) {
        return performRequest<Reply>(weak_from_this(), type, std::move(write), approximateBytes,
                                     expected);
    }

    // The longest text one page call carries, either way.
    static constexpr std::size_t transferSliceBytes = 512 * 1024;
    // Changes that size for this bridge (at least 4 bytes). For tests.
    void setTransferSliceBytes(std::size_t bytes) { transferSliceBytes_ = std::max<std::size_t>(bytes, 4); }

    // Texts up to this size are coded on the main thread when nothing waits
    // ahead of them; larger ones always on the worker queue.
    static constexpr std::size_t inlineCodingLimit = 32 * 1024;
    // Changes that limit for this bridge (0: every text goes to the worker
    // queue). For tests.
    void setInlineCodingLimit(std::size_t bytes) { inlineCodingLimit_ = bytes; }

private:
    class ScriptMessageProxy;
    struct PendingCall;
    struct DecodedEvent;
    struct Inbound;
    class EncodingMark;
    using ReplyText = std::optional<std::string>;
    // Reads a reply's payload as the caller's type (any thread).
    using PayloadReader = std::shared_ptr<void> (*)(const BridgeEnvelope&);

    // A reply as the worker queue hands it to the main thread.
    struct DecodedReply {
        BridgeEnvelope envelope;  // without its payload when a reader took it
        std::shared_ptr<void> value;      // what the reader made of the payload
        std::exception_ptr payloadError;  // the reader's failure, or the wrong type
        std::optional<RenderLimitsReport> limits;  // of a "rendered" reply
    };

    ReaderBridge(std::string documentID, std::string viewSessionID);

    template <typename Reply>
    static std::shared_ptr<void> readPayload(const BridgeEnvelope& reply) {
        return std::make_shared<Reply>(reply.decodePayload<Reply>());
    }
    template <typename Reply>
    static Task<Reply> performRequest(std::weak_ptr<ReaderBridge> weak, BridgeMessageType type,
                                      JSONValue payload, BridgeMessageType expected) {
        const PayloadReader reader = &readPayload<Reply>;
        DecodedReply reply = co_await performExchange(std::move(weak), type, std::move(payload),
                                                      nullptr, 0, expected, reader);
        co_return std::move(*std::static_pointer_cast<Reply>(reply.value));
    }
    template <typename Reply>
    static Task<Reply> performRequest(std::weak_ptr<ReaderBridge> weak, BridgeMessageType type,
                                      PayloadWriter write, std::size_t approximateBytes,
                                      BridgeMessageType expected) {
        const PayloadReader reader = &readPayload<Reply>;
        DecodedReply reply = co_await performExchange(std::move(weak), type, JSONValue(),
                                                      std::move(write), approximateBytes, expected,
                                                      reader);
        co_return std::move(*std::static_pointer_cast<Reply>(reply.value));
    }
    static Task<BridgeEnvelope> performSend(std::weak_ptr<ReaderBridge> weak,
                                            BridgeMessageType type, JSONValue payload);
    static Task<DecodedReply> performExchange(std::weak_ptr<ReaderBridge> weak,
                                              BridgeMessageType type, JSONValue payload,
                                              PayloadWriter write, std::size_t approximateBytes,
                                              std::optional<BridgeMessageType> expected,
                                              PayloadReader reader);
    static std::string encodeRequest(const BridgeEnvelope& request);
    static BridgeEnvelope validateReply(const std::string& messageID, const ReplyText& reply);
    static DecodedReply decodeReply(const Inbound& item);
    static DecodedEvent decodeEvent(const std::optional<std::string>& body);
    static void decode(Inbound& item);
    static void logRenderLimits(const RenderLimitsReport& limits);
    static void finishCall(const std::shared_ptr<PendingCall>& call,
                           ReaderBridgePort::CallResult result);
    std::shared_ptr<SerialExecutor> codingQueue();
    void startCall(const std::shared_ptr<PendingCall>& call, std::string messageJSON);
    void receiveReply(const std::shared_ptr<PendingCall>& call, ReaderBridgePort::CallResult result);
    void receiveReplySlice(const std::shared_ptr<PendingCall>& call,
                           ReaderBridgePort::CallResult result);
    void takeReplySlice(const std::shared_ptr<PendingCall>& call);
    void sendNextOutbound();
    void scheduleOutbound();
    void receive(std::shared_ptr<Inbound> item, std::size_t size);
    void startDecoding(std::shared_ptr<Inbound> item, std::size_t size);
    void deliverInbound();
    void listenForPageEnd();
    void pageDidEnd(ReaderBridgePort::PageEnd end);
    void failPendingCalls(std::exception_ptr error);
    void handle(const ReaderBridgePort::ScriptMessage& message);
    void handleEvent(DecodedEvent& event);
    template <typename Payload>
    void deliver(const DecodedEvent& event, std::string_view dropText, bool withDetail,
                 void (ReaderBridgeDelegate::*operation)(ReaderBridge&, const Payload&));

    std::string viewSessionID_;
    std::string documentID_;
    std::int64_t sourceRevision_ = 0;
    std::int64_t renderGeneration_ = 0;
    std::weak_ptr<ReaderBridgeDelegate> delegate_;
    std::shared_ptr<ReaderBridgePort> port_;  // the binding to the web view, which it holds weakly
    std::shared_ptr<ScriptMessageProxy> proxy_;
    std::vector<std::shared_ptr<PendingCall>> pending_;
    std::size_t inlineCodingLimit_ = inlineCodingLimit;
    std::size_t transferSliceBytes_ = transferSliceBytes;
    // Page calls not yet made, in order: slices of a request text, then its
    // last call. One leaves per main-loop turn.
    struct Outbound {
        std::shared_ptr<PendingCall> call;
        std::shared_ptr<const std::string> text;  // the whole request text, shared by its slices
        std::size_t begin = 0;
        std::size_t end = 0;
        std::int64_t index = 0;
        bool sliced = false;  // part of a transfer
        bool last = false;    // the call that takes the reply
    };
    std::deque<Outbound> outbound_;
    bool outboundScheduled_ = false;
    std::shared_ptr<SerialExecutor> codingQueue_;  // made on first use
    // Requests whose text is being written on the queue: later ones queue behind.
    int requestsEncoding_ = 0;
    // Replies and events in the order they arrived, until handled.
    std::deque<std::shared_ptr<Inbound>> inbound_;
    // A reply was handed to its waiting task, which has not run yet.
    bool replyBeingTaken_ = false;
};

}  // namespace larkspin
