#include "Protocol/Envelope/BridgeEnvelope.hpp"

#include "Platform/Text/Uuid.hpp"

namespace larkspin {

BridgeEnvelope BridgeEnvelope::request(BridgeMessageType type, JSONValue payload,
                                       std::string viewSessionID, std::string documentID,
                                       std::int64_t sourceRevision, std::int64_t renderGeneration) {
    BridgeEnvelope envelope;
    envelope.protocolVersion = currentProtocolVersion;
    envelope.messageID = makeUUID();
    envelope.viewSessionID = std::move(viewSessionID);
    envelope.documentID = std::move(documentID);
    envelope.sourceRevision = sourceRevision;
    envelope.renderGeneration = renderGeneration;
    envelope.type = std::string(rawValue(type));
    envelope.payload = std::move(payload);
    return envelope;
}

BridgeEnvelope BridgeEnvelope::decode(const JSONValue& json) {
    return PayloadCodec::decode<BridgeEnvelope>(json);
}

BridgeEnvelope BridgeEnvelope::decode(std::string_view jsonText) {
    return decode(JSONValue::parse(jsonText));
}

JSONValue BridgeEnvelope::jsonValue() const {
    return PayloadCodec::encode(*this);
}

std::string BridgeEnvelope::jsonText() const {
    return jsonValue().serialized();
}

}  // namespace larkspin
