// Envelopes and payloads against the golden envelopes of
// renderer/test/golden/, which the page's tests answer and post as well:
// every one decodes here; what this side sends encodes to exactly the golden
// JSON, and what it receives keeps every golden member when encoded again.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "Appearance/AccessibilityDisplayOptions.hpp"
#include "Platform/Json/PayloadCodec.hpp"
#include "Protocol/Payloads/AccessibilityAppliedPayload.hpp"
#include "Protocol/Payloads/AccessibilityDisplayOptionsFields.hpp"
#include "Protocol/Payloads/AnchorPayload.hpp"
#include "Protocol/Payloads/BackgroundAppliedPayload.hpp"
#include "Protocol/Envelope/BridgeEnvelope.hpp"
#include "Protocol/Payloads/BridgeErrorPayload.hpp"
#include "Protocol/Payloads/CapabilitiesPayload.hpp"
#include "Protocol/Payloads/DiagramAppliedPayload.hpp"
#include "Protocol/Payloads/DiagramResultPayload.hpp"
#include "Protocol/Payloads/FindPayload.hpp"
#include "Protocol/Payloads/FindResultPayload.hpp"
#include "Protocol/Bridge/ReaderBridgeDelegate.hpp"
#include "Protocol/ReaderTestSupport.hpp"
#include "Protocol/Payloads/RenderRequestPayload.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"
#include "Protocol/Payloads/ScrolledPayload.hpp"
#include "Protocol/Payloads/SetBackgroundPayload.hpp"
#include "Protocol/Payloads/SetThemePayload.hpp"
#include "Protocol/Payloads/SetTypographyPayload.hpp"
#include "Protocol/Payloads/ThemeAppliedPayload.hpp"
#include "Protocol/Payloads/TypographyAppliedPayload.hpp"
#include "Protocol/Payloads/ViewportInsetsAppliedPayload.hpp"
#include "Protocol/Payloads/ViewportInsetsPayload.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;

struct Golden {
    std::string name;  // "file: case"
    JSONValue envelope;
};

std::vector<Golden> goldenEnvelopes() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(rendererSourcePath("test/golden"))) {
        if (entry.path().extension() == ".json") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<Golden> golden;
    for (const auto& file : files) {
        const JSONValue cases = readJSONFile(file);
        for (const auto& [name, envelope] : *cases.objectValue()) {
            golden.push_back({file.stem().string() + ": " + name, envelope});
        }
    }
    return golden;
}

template <typename T>
JSONValue recoded(const JSONValue& payload) {
    return PayloadCodec::encode(PayloadCodec::decode<T>(payload));
}

template <typename T>
std::optional<T> member(const JSONValue& object, std::string_view key) {
    const JSONValue* value = object.find(key);
    if (!value) return std::nullopt;
    return PayloadCodec::decode<T>(*value);
}

// The payload read as this side's type and encoded again; none where this
// side has no type of its own for it.
std::optional<JSONValue> recodedPayload(BridgeMessageType type, const JSONValue& payload) {
    using T = BridgeMessageType;
    switch (type) {
        case T::render: {
            RenderRequestPayload request{std::make_shared<const std::string>(*member<std::string>(payload, "source")),
                                         *member<std::string>(payload, "language"),
                                         member<RenderEnhancements>(payload, "enhancements"),
                                         member<bool>(payload, "background").value_or(false),
                                         {},
                                         member<ReadingAnchor>(payload, "restoreAnchor")};
            if (const JSONValue* scroll = payload.find("scrollToSource")) {
                request.scrollToSourceLine = member<std::int64_t>(*scroll, "line");
            }
            return request.jsonValue();
        }
        case T::probe:
        case T::clearFind:
        case T::captureAnchor:
            return JSONValue::object();  // the reader view sends these empty
        case T::setTypography: {  // from the settings, as the reader view sends it
            const auto p = PayloadCodec::decode<SetTypographyPayload>(payload);
            return PayloadCodec::encode(SetTypographyPayload::from(
                {p.fontSizePx, p.widthPreset, p.lineHeightPreset, p.bodyFamily, p.monoFamily,
                 p.headingFamily, p.fontWeight, p.wideBlocks}));
        }
        case T::rendered: return recoded<RenderedPayload>(payload);
        case T::capabilities: return recoded<CapabilitiesPayload>(payload);
        case T::error: return recoded<BridgeErrorPayload>(payload);
        case T::setBackground: return recoded<SetBackgroundPayload>(payload);
        case T::backgroundApplied: return recoded<BackgroundAppliedPayload>(payload);
        case T::setTheme: return recoded<SetThemePayload>(payload);
        case T::themeApplied: return recoded<ThemeAppliedPayload>(payload);
        case T::scrolled: return recoded<ScrolledPayload>(payload);
        case T::activeHeading: return recoded<ActiveHeadingPayload>(payload);
        case T::typographyApplied: return recoded<TypographyAppliedPayload>(payload);
        case T::layoutReport: return recoded<LayoutReportPayload>(payload);
        case T::diagramsProgress: return recoded<DiagramsProgressPayload>(payload);
        case T::diagramRequest: return recoded<DiagramRequestPayload>(payload);
        case T::diagramResult: return recoded<DiagramResultPayload>(payload);
        case T::diagramApplied: return recoded<DiagramAppliedPayload>(payload);
        case T::copyText: return recoded<CopyTextPayload>(payload);
        case T::openLink: return recoded<OpenLinkPayload>(payload);
        case T::find: return recoded<FindPayload>(payload);
        case T::findResult: return recoded<FindResultPayload>(payload);
        case T::setViewportInsets: return recoded<ViewportInsetsPayload>(payload);
        case T::viewportInsetsApplied: return recoded<ViewportInsetsAppliedPayload>(payload);
        case T::anchor: return recoded<AnchorPayload>(payload);
        case T::anchorRestored: return recoded<AnchorRestoredPayload>(payload);
        case T::setAccessibility: return recoded<AccessibilityDisplayOptions>(payload);
        case T::accessibilityApplied: return recoded<AccessibilityAppliedPayload>(payload);
        case T::ready:            // its payload is never read
        case T::scrollToHeading:  // built by the reader view
        case T::setFonts:         // the last four never travel
        case T::fontsApplied:
        case T::scrollToSource:
        case T::scrolledToSource:
            return std::nullopt;
    }
    return std::nullopt;
}

// Every member of `golden`, nested ones too, is in `actual` with its value.
bool holds(const JSONValue& actual, const JSONValue& golden) {
    if (golden.objectValue() && actual.objectValue()) {
        return std::ranges::all_of(*golden.objectValue(), [&](const auto& member) {
            const JSONValue* found = actual.find(member.first);
            return found && holds(*found, member.second);
        });
    }
    if (golden.arrayValue() && actual.arrayValue()) {
        const auto& items = *golden.arrayValue();
        return items.size() == actual.arrayValue()->size() &&
               std::ranges::equal(*actual.arrayValue(), items, holds);
    }
    return actual == golden;
}

TEST(BridgeEnvelope, GoldenEnvelopesDecodeAndEncodeAsThePageDoes) {
    const auto golden = goldenEnvelopes();
    std::set<BridgeMessageType> seen;
    for (const auto& [name, json] : golden) {
        SCOPED_TRACE(name);
        const BridgeEnvelope envelope = BridgeEnvelope::decode(json);
        EXPECT_EQ(envelope.jsonValue(), json);
        const auto type = envelope.messageType();
        ASSERT_TRUE(type) << envelope.type;
        seen.insert(*type);
        const auto recoded = recodedPayload(*type, envelope.payload);
        if (!recoded) continue;
        if (expectedReply(*type)) {
            EXPECT_EQ(*recoded, envelope.payload);  // a request: this side wrote it
        } else {
            EXPECT_TRUE(holds(*recoded, envelope.payload))
                << recoded->serialized() << "\n  lacks some of\n" << envelope.payload.serialized();
        }
    }
    std::set<BridgeMessageType> travelling;
    for (const auto type : allCases<BridgeMessageType>()) {
        if (const auto reply = expectedReply(type)) travelling.insert({type, *reply});
        if (isPageEvent(type)) travelling.insert(type);
    }
    EXPECT_EQ(seen, travelling);
}

TEST(Payloads, DefaultsAndDerivedAnswers) {
    const auto blocks = PayloadCodec::decode<RenderedPayload>(json(R"({"headings":[],
        "renderGeneration":1,"blocks":[{"id":"a","kind":"p","sourceStart":1,"sourceEnd":2},
        {"id":"b","kind":"p","sourceStart":3,"sourceEnd":4,"depth":2}]})")).blocks;
    EXPECT_EQ(blocks->at(0).depth, 0);  // the page sends no depth for top-level blocks
    EXPECT_EQ(blocks->at(1).depth, 2);

    EXPECT_TRUE((RenderLimitsReport{0, 0, 0, 0}.isEmpty()));
    for (const auto& limits : {RenderLimitsReport{1, 0, 0, 0}, RenderLimitsReport{0, 1, 0, 0},
                               RenderLimitsReport{0, 0, 1, 0}, RenderLimitsReport{0, 0, 0, -1}}) {
        EXPECT_FALSE(limits.isEmpty());
    }
    EXPECT_FALSE((LayoutReportPayload{780, 780, {}, {}, {}, {}, {}}.pageOverflows()));
    EXPECT_TRUE((LayoutReportPayload{780.5, 780, {}, {}, {}, {}, {}}.pageOverflows()));
    const auto complete = [](std::int64_t done, std::int64_t failed, std::optional<bool> said) {
        return DiagramsProgressPayload{3, done, failed, "inline", {}, {}, said, {}, {}, {}}
            .isComplete();
    };
    EXPECT_TRUE(complete(3, 0, std::nullopt));
    EXPECT_FALSE(complete(2, 1, std::nullopt));  // failures are not done
    EXPECT_TRUE(complete(2, 1, true));
    EXPECT_FALSE(complete(3, 0, false));
    for (const auto& [blockId, fingerprint, has] :
         {std::tuple{"b", "f", true}, {"b", "", false}, {"", "f", false}}) {
        ReadingAnchor anchor;
        anchor.blockId = blockId;
        anchor.fingerprint = fingerprint;
        EXPECT_EQ(anchor.hasBlock(), has);
    }
}

// The rest of a request's envelope: ReaderBridgeTests.
TEST(BridgeEnvelope, RequestsCarryAFreshUpperCaseUUID) {
    const auto request = [] {
        return BridgeEnvelope::request(BridgeMessageType::probe, JSONValue::object(), "", "", 0, 0);
    };
    const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    const std::string first = request().messageID;
    EXPECT_TRUE(std::regex_match(first, uuid)) << first;
    EXPECT_NE(request().messageID, first);
}

}  // namespace
}  // namespace larkspin
