#include "Protocol/ReaderBridge.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "Platform/Log.hpp"
#include "Protocol/BridgeError.hpp"
#include "Platform/Json/CodingError.hpp"
#include "Protocol/PageCallError.hpp"
#include "Protocol/RenderedPayload.hpp"

namespace larkspin {

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
    std::optional<Completion<ReplyText>> done;
    std::optional<ReaderBridgePort::CallID> callID;
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
    listenForPageEnd();
}

void ReaderBridge::teardown() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (port_) {
        if (port_->isAlive()) port_->unregisterMessageHandler(handlerName);
        port_->setPageEndHandler({});
    }
    proxy_->bridge.reset();
    failPendingCalls(std::make_exception_ptr(BridgeError::notAttached()));
    port_.reset();
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
}

void ReaderBridge::failPendingCalls(std::exception_ptr error) {
    auto calls = std::exchange(pending_, {});
    for (const auto& call : calls) {
        if (!call->done) continue;
        if (port_ && call->callID) port_->abandonCall(*call->callID);
        ReaderBridgePort::CallResult result;
        result.error = error;
        finishCall(call, std::move(result));
    }
}

void ReaderBridge::finishCall(const std::shared_ptr<PendingCall>& call,
                              ReaderBridgePort::CallResult result) {
    std::optional<Completion<ReplyText>> done = std::exchange(call->done, std::nullopt);
    if (!done) return;
    if (result.error) {
        done->fail(result.error);
    } else {
        done->resolve(std::move(result.replyJSON));
    }
}

void ReaderBridge::startCall(const std::shared_ptr<PendingCall>& call, std::string messageJSON) {
    std::erase_if(pending_, [](const auto& waiting) { return !waiting->done; });
    pending_.push_back(call);
    call->callID = port_->callPageFunction(
        std::move(messageJSON),
        [call](ReaderBridgePort::CallResult result) { finishCall(call, std::move(result)); });
}

Task<BridgeEnvelope> ReaderBridge::send(BridgeMessageType type, JSONValue payload) {
    return performSend(weak_from_this(), type, std::move(payload));
}

Task<BridgeEnvelope> ReaderBridge::performSend(std::weak_ptr<ReaderBridge> weak,
                                               BridgeMessageType type, JSONValue payload) {
    auto self = weak.lock();
    if (!self || !self->isAttached()) throw BridgeError::notAttached();
    const BridgeEnvelope request =
        BridgeEnvelope::request(type, std::move(payload), self->viewSessionID_, self->documentID_,
                                self->sourceRevision_, self->renderGeneration_);
    const JSONValue requestJSON = request.jsonValue();  // a CodingError goes to the caller
    if (!requestJSON.objectValue()) throw BridgeError::invalidRequest();
    std::string messageJSON = requestJSON.serialized();
    const std::string messageID = request.messageID;
    self.reset();

    auto start = [weak, messageJSON = std::move(messageJSON)](Completion<ReplyText> done) mutable {
        auto call = std::make_shared<PendingCall>();
        call->done.emplace(std::move(done));
        auto bridge = weak.lock();
        if (!bridge || !bridge->isAttached()) {
            ReaderBridgePort::CallResult result;
            result.error = std::make_exception_ptr(BridgeError::notAttached());
            finishCall(call, std::move(result));
            return;
        }
        bridge->startCall(call, std::move(messageJSON));
    };
    const ReplyText replyText = co_await awaitCompletion<ReplyText>(std::move(start));

    BridgeEnvelope reply = validateReply(messageID, replyText);
    if (auto again = weak.lock()) {
        again->renderGeneration_ = std::max(again->renderGeneration_, reply.renderGeneration);
    }
    if (reply.messageType() == BridgeMessageType::rendered) logRenderLimits(reply);
    co_return reply;
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

void ReaderBridge::logRenderLimits(const BridgeEnvelope& reply) {
    std::optional<RenderLimitsReport> limits;
    try {
        limits = reply.decodePayload<RenderedPayload>().limits;
    } catch (const CodingError&) {
        return;
    }
    if (!limits || limits->isEmpty()) return;
    AppLog::bridge.info(
        "渲染触发复杂度上限：depthClamped=%{public}ld nodesClamped=%{public}ld "
        "codeTruncated=%{public}ld diagramsSkipped=%{public}ld",
        limits->depthClamped, limits->nodesClamped, limits->codeTruncated, limits->diagramsSkipped);
}

template <typename Payload>
void ReaderBridge::deliver(const BridgeEnvelope& envelope, std::string_view dropText,
                           bool withDetail,
                           void (ReaderBridgeDelegate::*operation)(ReaderBridge&, const Payload&)) {
    std::optional<Payload> payload;
    try {
        payload = envelope.decodePayload<Payload>();
    } catch (const CodingError& error) {
        if (withDetail) {
            AppLog::bridge.error(dropText, error.what());
        } else {
            AppLog::bridge.error(dropText);
        }
        return;
    }
    if (auto target = delegate_.lock()) ((*target).*operation)(*this, *payload);
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
    std::optional<JSONValue> body;
    if (message.bodyJSON) {
        try {
            body = JSONValue::parse(*message.bodyJSON);
        } catch (const CodingError& error) {
            AppLog::bridge.error("丢弃：信封解码失败 %{private}s", error.what());
            return;
        }
    }
    if (!body || !body->objectValue()) {
        AppLog::bridge.error("丢弃：body 不是 JSON 对象");
        return;
    }
    BridgeEnvelope envelope;
    try {
        envelope = BridgeEnvelope::decode(*body);
    } catch (const CodingError& error) {
        AppLog::bridge.error("丢弃：信封解码失败 %{private}s", error.what());
        return;
    }
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
            BridgeErrorPayload failure;
            try {
                failure = envelope.decodePayload<BridgeErrorPayload>();
            } catch (const CodingError&) {
                AppLog::bridge.error("丢弃：error payload 解码失败");
                return;
            }
            AppLog::bridge.error("JS 报错 %{public}s：%{private}s", failure.code, failure.message);
            if (auto target = delegate_.lock()) target->bridgeDidReceiveError(*this, failure);
            return;
        }
        case BridgeMessageType::activeHeading:
            deliver(envelope, "丢弃：activeHeading payload 解码失败", false,
                    &D::bridgeDidReportActiveHeading);
            return;
        case BridgeMessageType::layoutReport:
            deliver(envelope, "丢弃：layoutReport payload 解码失败 %{private}s", true,
                    &D::bridgeDidReceiveLayoutReport);
            return;
        case BridgeMessageType::diagramsProgress:
            deliver(envelope, "丢弃：diagramsProgress payload 解码失败 %{private}s", true,
                    &D::bridgeDidReportDiagramsProgress);
            return;
        case BridgeMessageType::diagramRequest:
            deliver(envelope, "丢弃：diagramRequest payload 解码失败 %{private}s", true,
                    &D::bridgeDidRequestDiagram);
            return;
        case BridgeMessageType::copyText:
            deliver(envelope, "丢弃：copyText payload 解码失败", false, &D::bridgeDidRequestCopy);
            return;
        case BridgeMessageType::openLink:
            deliver(envelope, "丢弃：openLink payload 解码失败 %{private}s", true,
                    &D::bridgeDidRequestOpenLink);
            return;
        case BridgeMessageType::anchorRestored:
            deliver(envelope, "丢弃：anchorRestored payload 解码失败 %{private}s", true,
                    &D::bridgeDidRestoreAnchor);
            return;
        default:
            return;  // not a page event: refused above
    }
}

}  // namespace larkspin
