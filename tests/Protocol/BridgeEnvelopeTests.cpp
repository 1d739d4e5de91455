#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "Protocol/BridgeEnvelope.hpp"
#include "Protocol/BridgeErrorPayload.hpp"
#include "Protocol/BridgeMessageType.hpp"
#include "Protocol/ReaderTestSupport.hpp"

namespace larkspin {
namespace {

const char* const kEnvelope = R"({
    "protocolVersion": 1, "messageID": "M", "viewSessionID": "S", "documentID": "D",
    "sourceRevision": 7, "renderGeneration": 3, "type": "rendered", "payload": {"a": [1]}
})";

JSONValue envelopeWith(std::string_view key, std::optional<JSONValue> value) {
    JSONValue envelope = json(kEnvelope);
    auto& members = *envelope.objectValue();
    if (value) {
        members.insert_or_assign(std::string(key), *value);
    } else {
        members.erase(std::string(key));
    }
    return envelope;
}

CodingError::Kind decodeFailure(const JSONValue& envelope) {
    try {
        BridgeEnvelope::decode(envelope);
    } catch (const CodingError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "decoded";
    return CodingError::Kind::invalidValue;
}

TEST(BridgeEnvelope, RequestsCarryVersionOneAndAFreshUpperCaseUUID) {
    const auto first = BridgeEnvelope::request(BridgeMessageType::setTheme, JSONValue::object(),
                                               "session", "doc", 4, 9);
    const auto second = BridgeEnvelope::request(BridgeMessageType::setTheme, JSONValue::object(),
                                                "session", "doc", 4, 9);
    EXPECT_EQ(first.protocolVersion, 1);
    EXPECT_EQ(first.type, "setTheme");
    EXPECT_EQ(first.sourceRevision, 4);
    EXPECT_EQ(first.renderGeneration, 9);
    const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    EXPECT_TRUE(std::regex_match(first.messageID, uuid)) << first.messageID;
    EXPECT_NE(first.messageID, second.messageID);
}

TEST(BridgeEnvelope, RoundTripsThroughText) {
    auto envelope =
        BridgeEnvelope::request(BridgeMessageType::find, json(R"({"query":"中","restart":true})"),
                                "S", "D", (std::int64_t{1} << 53), -(std::int64_t{1} << 53));
    const std::string text = envelope.jsonText();
    EXPECT_EQ(BridgeEnvelope::decode(text), envelope);
    EXPECT_EQ(BridgeEnvelope::decode(json(kEnvelope)).jsonValue(), json(kEnvelope));
}

TEST(BridgeEnvelope, EveryOneOfTheEightKeysIsRequired) {
    for (const char* key : {"protocolVersion", "messageID", "viewSessionID", "documentID",
                            "sourceRevision", "renderGeneration", "type", "payload"}) {
        EXPECT_EQ(decodeFailure(envelopeWith(key, std::nullopt)), CodingError::Kind::keyNotFound)
            << key;
    }
    // A null payload is a value; a null elsewhere is not.
    EXPECT_TRUE(
        BridgeEnvelope::decode(envelopeWith("payload", JSONValue::null())).payload.isNull());
    EXPECT_EQ(decodeFailure(envelopeWith("messageID", JSONValue::null())),
              CodingError::Kind::valueNotFound);
    // Extra keys are ignored (and lost).
    EXPECT_EQ(BridgeEnvelope::decode(envelopeWith("extra", JSONValue::boolean(true))).jsonValue(),
              json(kEnvelope));
    EXPECT_EQ(decodeFailure(json("[]")), CodingError::Kind::typeMismatch);
}

TEST(BridgeEnvelope, IntegerFieldsTakeWholeNumbersWithin64Bits) {
    struct Case {
        const char* number;
        std::optional<std::int64_t> expected;  // none: refused
    };
    const Case cases[] = {
        {"5", 5},
        {"5.0", 5},
        {"-0.0", 0},
        {"5e0", 5},
        {"-9223372036854775808", INT64_MIN},
        {"5.5", std::nullopt},
        {"1e-7", std::nullopt},
        {"9223372036854775807", std::nullopt},  // rounds to 2^63 as a double
        {"9223372036854775808", std::nullopt},
        {"-9223372036854777856", std::nullopt},
        {"1e19", std::nullopt},
        {"\"5\"", std::nullopt},
        {"true", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto envelope = envelopeWith("sourceRevision", json(c.number));
        if (c.expected) {
            EXPECT_EQ(BridgeEnvelope::decode(envelope).sourceRevision, *c.expected) << c.number;
        } else {
            EXPECT_ANY_THROW(BridgeEnvelope::decode(envelope)) << c.number;
        }
    }
}

TEST(BridgeEnvelope, AnUnknownTypeDecodesButNamesNoMessageType) {
    for (const char* type : {"mystery", "Render", "RENDER", ""}) {
        const auto envelope = BridgeEnvelope::decode(envelopeWith("type", JSONValue::string(type)));
        EXPECT_EQ(envelope.type, type);
        EXPECT_FALSE(envelope.messageType().has_value()) << type;
    }
    EXPECT_EQ(BridgeEnvelope::decode(json(kEnvelope)).messageType(), BridgeMessageType::rendered);
}

TEST(BridgeEnvelope, DecodePayloadAppliesThePayloadsRules) {
    auto envelope = BridgeEnvelope::decode(
        envelopeWith("payload", json(R"({"code":"E1","message":"bad","more":1})")));
    const auto error = envelope.decodePayload<BridgeErrorPayload>();
    EXPECT_EQ(error.code, "E1");
    EXPECT_EQ(error.message, "bad");

    envelope.payload = JSONValue::object();
    try {
        envelope.decodePayload<BridgeErrorPayload>();
        ADD_FAILURE() << "decoded an empty payload";
    } catch (const CodingError& failure) {
        EXPECT_EQ(failure.kind(), CodingError::Kind::keyNotFound);
    }
}

TEST(BridgeMessageType, RolesFollowTheProtocolTable) {
    const auto all = allCases<BridgeMessageType>();
    ASSERT_EQ(all.size(), 36u);
    std::set<std::string_view> events;
    std::set<std::string_view> requests;
    for (const auto type : all) {
        EXPECT_EQ(fromRawValue<BridgeMessageType>(rawValue(type)), type);
        if (isPageEvent(type)) events.insert(rawValue(type));
        if (expectedReply(type)) requests.insert(rawValue(type));
    }
    EXPECT_EQ(events, (std::set<std::string_view>{"ready", "error", "activeHeading", "layoutReport",
                                                  "diagramsProgress", "diagramRequest", "copyText",
                                                  "openLink", "anchorRestored"}));
    EXPECT_EQ(requests.size(), 12u);
    EXPECT_EQ(expectedReply(BridgeMessageType::clearFind), BridgeMessageType::findResult);
    EXPECT_EQ(expectedReply(BridgeMessageType::setAccessibility),
              BridgeMessageType::accessibilityApplied);
    for (const auto declaredOnly :
         {BridgeMessageType::setFonts, BridgeMessageType::fontsApplied,
          BridgeMessageType::scrollToSource, BridgeMessageType::scrolledToSource}) {
        EXPECT_FALSE(isPageEvent(declaredOnly));
        EXPECT_FALSE(expectedReply(declaredOnly));
    }
}

}  // namespace
}  // namespace larkspin
