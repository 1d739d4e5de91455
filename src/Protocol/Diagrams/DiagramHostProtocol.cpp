#include "Protocol/Diagrams/DiagramHostProtocol.hpp"

#include <algorithm>

#include "Platform/Json/CodingError.hpp"
#include "Platform/Json/PayloadCodec.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Protocol/Payloads/BridgeErrorPayload.hpp"
#include "Protocol/Diagrams/DiagramHostError.hpp"
#include "Protocol/Schemes/ResourceURL.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin::DiagramHostProtocol {

namespace {

}  // namespace

BridgeEnvelope requestEnvelope(const DiagramHostRequest& request) {
    BridgeEnvelope envelope;
    envelope.protocolVersion = BridgeEnvelope::currentProtocolVersion;
    envelope.messageID = makeUUID();
    envelope.type = std::string(requestType);
    envelope.payload = PayloadCodec::encode(request);
    return envelope;
}

DiagramHostResponse readReply(std::string_view messageID,
                              const std::optional<std::string>& replyJSON) {
    if (!replyJSON) throw DiagramHostError::invalidResponse("返回值不是 JSON 对象");
    const JSONValue json = JSONValue::parse(*replyJSON);
    if (!json.objectValue()) throw DiagramHostError::invalidResponse("返回值不是 JSON 对象");
    const BridgeEnvelope reply = BridgeEnvelope::decode(json);
    if (reply.messageID != messageID) throw DiagramHostError::invalidResponse("messageID 不匹配");
    if (reply.type == "error") {
        const auto error = reply.decodePayload<BridgeErrorPayload>();
        throw BridgeError::remote(error.code, error.message);
    }
    if (reply.type == replyType) return reply.decodePayload<DiagramHostResponse>();
    throw DiagramHostError::invalidResponse("类型 " + reply.type);
}

HostMessage readHostMessage(const std::optional<std::string>& bodyJSON) {
    HostMessage message;
    if (!bodyJSON) return message;
    JSONValue body;
    try {
        body = JSONValue::parse(*bodyJSON);
    } catch (const CodingError&) {
        return message;
    }
    const JSONValue* type = body.find("type");
    if (!type || !type->stringValue()) return message;
    if (*type->stringValue() == "ready") {
        message.kind = HostMessage::Kind::ready;
    } else if (*type->stringValue() == "error") {
        message.kind = HostMessage::Kind::error;
        const JSONValue* payload = body.find("payload");
        if (payload && payload->objectValue()) message.errorPayload = payload->serialized();
    }
    return message;
}

bool allowsNavigation(const std::optional<std::string>& url) {
    if (!url) return false;
    const auto parsed = ResourceURL::parse(*url);
    return parsed && asciiLowercased(parsed->scheme) == "app-resource" && parsed->host &&
           asciiLowercased(*parsed->host) == "renderer";
}

}  // namespace larkspin::DiagramHostProtocol
