#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Async/Task.hpp"
#include "Protocol/BridgeEnvelope.hpp"
#include "Protocol/BridgeMessageType.hpp"
#include "Platform/Json/JSONValue.hpp"
#include "Protocol/ReaderBridgeDelegate.hpp"
#include "Protocol/ReaderBridgePort.hpp"

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

    // Sends a request and awaits its reply envelope. Throws BridgeError
    // (notAttached, invalidRequest, invalidResponse, messageIDMismatch,
    // remote), PageCallError for a failed page call, or CodingError for an
    // envelope that cannot be encoded or an "error" reply whose payload
    // cannot be decoded. A reply that cannot be decoded as an envelope, for
    // whatever reason, is invalidResponse. The reply's type is not compared
    // with the request: callers do that (BridgeError::unexpectedType).
    Task<BridgeEnvelope> send(BridgeMessageType type, JSONValue payload);

    // Logs the complexity limits of a "rendered" reply when any is non-zero.
    static void logRenderLimits(const BridgeEnvelope& reply);

private:
    class ScriptMessageProxy;
    struct PendingCall;
    using ReplyText = std::optional<std::string>;

    ReaderBridge(std::string documentID, std::string viewSessionID);

    static Task<BridgeEnvelope> performSend(std::weak_ptr<ReaderBridge> weak,
                                            BridgeMessageType type, JSONValue payload);
    static BridgeEnvelope validateReply(const std::string& messageID, const ReplyText& reply);
    static void finishCall(const std::shared_ptr<PendingCall>& call,
                           ReaderBridgePort::CallResult result);
    void startCall(const std::shared_ptr<PendingCall>& call, std::string messageJSON);
    void listenForPageEnd();
    void pageDidEnd(ReaderBridgePort::PageEnd end);
    void failPendingCalls(std::exception_ptr error);
    void handle(const ReaderBridgePort::ScriptMessage& message);
    template <typename Payload>
    void deliver(const BridgeEnvelope& envelope, std::string_view dropText, bool withDetail,
                 void (ReaderBridgeDelegate::*operation)(ReaderBridge&, const Payload&));

    std::string viewSessionID_;
    std::string documentID_;
    std::int64_t sourceRevision_ = 0;
    std::int64_t renderGeneration_ = 0;
    std::weak_ptr<ReaderBridgeDelegate> delegate_;
    std::shared_ptr<ReaderBridgePort> port_;  // the binding to the web view, which it holds weakly
    std::shared_ptr<ScriptMessageProxy> proxy_;
    std::vector<std::shared_ptr<PendingCall>> pending_;
};

}  // namespace larkspin
