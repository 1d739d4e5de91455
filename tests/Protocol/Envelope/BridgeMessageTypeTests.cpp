// The message types and their roles against the page's own table,
// renderer/src/protocol.json, and every raw-value table of the protocol.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Protocol/Envelope/BridgeEnvelope.hpp"
#include "Protocol/Envelope/BridgeMessageType.hpp"
#include "Protocol/Diagrams/DiagramHostIsolation.hpp"
#include "Protocol/Payloads/FindPayload.hpp"
#include "Protocol/Payloads/OpenLinkPayload.hpp"
#include "Protocol/ReaderTestSupport.hpp"
#include "Protocol/Payloads/ReadingAnchorStrategy.hpp"
#include "Protocol/Payloads/TypographyRawValues.hpp"

namespace larkspin {
namespace {

std::set<std::string> textsOf(const JSONValue* array) {
    std::set<std::string> texts;
    for (const JSONValue& item : *array->arrayValue()) texts.insert(*item.stringValue());
    return texts;
}

TEST(BridgeMessageType, AgreesWithThePagesProtocolTable) {
    const JSONValue table = readJSONFile(rendererSourcePath("src/protocol.json"));
    EXPECT_EQ(*table.find("protocolVersion"),
              JSONValue::number(BridgeEnvelope::currentProtocolVersion));
    const JSONValue envelope = BridgeEnvelope{}.jsonValue();
    std::set<std::string> envelopeKeys;
    for (const auto& [key, value] : *envelope.objectValue()) envelopeKeys.insert(key);
    EXPECT_EQ(envelopeKeys, textsOf(table.find("envelopeKeys")));

    JSONValue::Array names;
    JSONValue::Object requests;
    std::set<std::string> events;
    for (const auto type : allCases<BridgeMessageType>()) {
        names.push_back(JSONValue::string(std::string(rawValue(type))));
        if (const auto reply = expectedReply(type)) {
            requests.emplace(rawValue(type), JSONValue::string(std::string(rawValue(*reply))));
        }
        if (isPageEvent(type)) events.emplace(rawValue(type));
    }
    EXPECT_EQ(JSONValue::array(names), *table.find("messageTypes"));
    EXPECT_EQ(JSONValue::object(requests), *table.find("requests"));
    EXPECT_EQ(events, textsOf(table.find("events")));
}

// Each raw string names one case and each case one raw string.
template <RawValueEnum E>
void expectOneToOne(const char* name) {
    SCOPED_TRACE(name);
    ASSERT_FALSE(RawValueTable<E>::entries.empty());
    for (const auto& [value, text] : RawValueTable<E>::entries) {
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(fromRawValue<E>(text), value) << text;
        EXPECT_EQ(rawValue(value), text);
    }
}

TEST(RawValueTables, EveryTableOfTheProtocolIsOneToOne) {
    expectOneToOne<BridgeMessageType>("BridgeMessageType");
    expectOneToOne<FindPayload::Direction>("FindPayload::Direction");
    expectOneToOne<OpenLinkPayload::Kind>("OpenLinkPayload::Kind");
    expectOneToOne<ReadingAnchorStrategy>("ReadingAnchorStrategy");
    expectOneToOne<TypographyWidthPreset>("TypographyWidthPreset");
    expectOneToOne<TypographyLineHeightPreset>("TypographyLineHeightPreset");
    expectOneToOne<WideBlockMode>("WideBlockMode");
    expectOneToOne<DiagramHostIsolation>("DiagramHostIsolation");
}

}  // namespace
}  // namespace larkspin
