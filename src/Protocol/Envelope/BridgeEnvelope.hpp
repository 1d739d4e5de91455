#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Protocol/Envelope/BridgeMessageType.hpp"
#include "Platform/Json/JSONValue.hpp"
#include "Platform/Json/PayloadCodec.hpp"

namespace larkspin {

// The message of the renderer protocol, in both directions. All eight keys
// are required when decoding (the payload's value may be null); other keys
// are ignored. `type` stays a plain string so that an envelope of an unknown
// type still decodes and can be refused by name.
struct BridgeEnvelope {
    static constexpr std::int64_t currentProtocolVersion = 1;

    std::int64_t protocolVersion = currentProtocolVersion;
    std::string messageID;
    std::string viewSessionID;
    std::string documentID;
    std::int64_t sourceRevision = 0;
    std::int64_t renderGeneration = 0;
    std::string type;
    JSONValue payload;

    // A request of the reader: protocol version 1 and a fresh upper-case UUID
    // as its message identifier.
    static BridgeEnvelope request(BridgeMessageType type, JSONValue payload,
                                  std::string viewSessionID, std::string documentID,
                                  std::int64_t sourceRevision, std::int64_t renderGeneration);

    // Decoding from the JSON value, or from JSON text. Throw CodingError.
    static BridgeEnvelope decode(const JSONValue& json);
    static BridgeEnvelope decode(std::string_view jsonText);

    // The JSON forms. Throw CodingError (a non-finite number in the payload,
    // a string that is not UTF-8).
    JSONValue jsonValue() const;
    std::string jsonText() const;

    // The type, when it is one of the 36 names (exact letter case).
    std::optional<BridgeMessageType> messageType() const {
        return fromRawValue<BridgeMessageType>(type);
    }

    // Reads the payload as `T` by the payload codec's rules; throws
    // CodingError when it does not fit. Nothing is logged here.
    template <typename T>
    T decodePayload() const {
        return PayloadCodec::decode<T>(payload);
    }

    bool operator==(const BridgeEnvelope&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("protocolVersion", self.protocolVersion);
        coder.field("messageID", self.messageID);
        coder.field("viewSessionID", self.viewSessionID);
        coder.field("documentID", self.documentID);
        coder.field("sourceRevision", self.sourceRevision);
        coder.field("renderGeneration", self.renderGeneration);
        coder.field("type", self.type);
        coder.field("payload", self.payload);
    }
};

}  // namespace larkspin
