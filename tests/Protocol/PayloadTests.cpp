#include <gtest/gtest.h>

#include <cmath>
#include <concepts>
#include <limits>

#include "Protocol/AccessibilityAppliedPayload.hpp"
#include "Protocol/ActiveHeadingPayload.hpp"
#include "Protocol/AnchorPayload.hpp"
#include "Protocol/AnchorRestoredPayload.hpp"
#include "Protocol/BackgroundAppliedPayload.hpp"
#include "Protocol/BridgeErrorPayload.hpp"
#include "Protocol/CapabilitiesPayload.hpp"
#include "Protocol/CopyTextPayload.hpp"
#include "Protocol/DiagramAppliedPayload.hpp"
#include "Protocol/DiagramRequestPayload.hpp"
#include "Protocol/DiagramResultPayload.hpp"
#include "Protocol/DiagramsProgressPayload.hpp"
#include "Protocol/FindPayload.hpp"
#include "Protocol/FindResultPayload.hpp"
#include "Protocol/LayoutReportPayload.hpp"
#include "Protocol/OpenLinkPayload.hpp"
#include "Platform/Json/PayloadCodec.hpp"
#include "Protocol/ReadingAnchor.hpp"
#include "Protocol/RenderEnhancements.hpp"
#include "Protocol/RenderedPayload.hpp"
#include "Protocol/ScrolledPayload.hpp"
#include "Protocol/ThemeAppliedPayload.hpp"
#include "Protocol/ViewportInsetsAppliedPayload.hpp"
#include "Protocol/ViewportInsetsPayload.hpp"
#include "Protocol/ReaderTestSupport.hpp"

namespace larkspin {
namespace {

// Native value → JSON → text → JSON → native value gives the same value and
// the same JSON.
template <typename T>
void expectRoundTrip(const T& value) {
    SCOPED_TRACE(testing::internal::GetTypeName<T>());
    const JSONValue encoded = PayloadCodec::encode(value);
    ASSERT_EQ(encoded.kind(), JSONValue::Kind::object);
    const JSONValue reparsed = JSONValue::parse(encoded.serialized());
    EXPECT_EQ(reparsed, encoded);
    const T decoded = PayloadCodec::decode<T>(reparsed);
    EXPECT_EQ(PayloadCodec::encode(decoded), encoded);
    if constexpr (std::equality_comparable<T>) {
        EXPECT_EQ(decoded, value);
    }
}

template <typename T>
CodingError::Kind decodeFailure(std::string_view text) {
    try {
        PayloadCodec::decode<T>(json(text));
    } catch (const CodingError& error) {
        return error.kind();
    }
    ADD_FAILURE() << testing::internal::GetTypeName<T>() << " decoded " << text;
    return CodingError::Kind::invalidValue;
}

ReadingAnchor sampleAnchor() {
    ReadingAnchor anchor;
    anchor.version = 2;
    anchor.blockId = "b-12";
    anchor.kind = "paragraph";
    anchor.fingerprint = "f00d";
    anchor.headingPath = {"一", "Two"};
    anchor.sourceRange = {40, 44};
    anchor.relativeOffset = 0.25;
    anchor.offsetPx = 12.5;
    anchor.scrollTop = 1800;
    anchor.scrollRatio = 0.4;
    return anchor;
}

AnchorRestoredPayload sampleRestore() {
    return {ReadingAnchorStrategy::fingerprint, true, "moved", "b-12", 1790.5, 3.25};
}

TEST(Payloads, RenderPayloadsRoundTrip) {
    expectRoundTrip(RenderEnhancements{true, false, true});

    RenderedPayload minimal;
    minimal.renderGeneration = 1;
    expectRoundTrip(minimal);

    RenderedPayload full;
    full.headings = {{1, "Title", "title"}, {2, "章节", "section-1"}};
    full.renderGeneration = 12;
    full.images = ImageSummary{3, 1, 2};
    full.parserMode = "worker";
    full.timings = RenderTimings{1.5, 0.25, 2000, 4, 0, 16.7, 30, 25.5, 1};
    full.diagrams = DiagramSummary{2, 1};
    full.blocks = std::vector<RenderedBlock>{{"p1", "paragraph", 1, 3, 0}, {"li", "item", 5, 5, 2}};
    full.degraded = RenderDegradation{"timeout", "parse took too long"};
    full.anchorRestored = sampleRestore();
    full.scrolledToSource = ScrolledToSourcePayload{9, true, "p1", 8, 10, "contains"};
    full.limits = RenderLimitsReport{0, 0, 2, 0};
    expectRoundTrip(full);
}

TEST(Payloads, PresentationRepliesRoundTrip) {
    expectRoundTrip(ThemeAppliedPayload{"midnight", 4, 61});
    expectRoundTrip(BackgroundAppliedPayload{"#101418", "rgb(16, 20, 24)", "dark"});
    expectRoundTrip(AccessibilityAppliedPayload{true, false, true});
    expectRoundTrip(ViewportInsetsPayload{52, 0});
    expectRoundTrip(ViewportInsetsAppliedPayload{52, 0, -52});
    expectRoundTrip(CapabilitiesPayload{true, true, false, true, false, "Mozilla/5.0 WebKit"});
}

TEST(Payloads, PageEventAndDiagramPayloadsRoundTrip) {
    expectRoundTrip(BridgeErrorPayload{"E_PARSE", "boom"});
    expectRoundTrip(ActiveHeadingPayload{"intro", 3});
    expectRoundTrip(LayoutReportPayload{800, 780, {{"table", "#t1", 1200, 760}}, {}, {}, {}, {}});
    expectRoundTrip(LayoutReportPayload{
        800, 800, {}, 680, 760, std::vector<WideBlockRecord>{{"pre", "#c2", 900}}, "resize"});
    expectRoundTrip(DiagramsProgressPayload{3, 2, 1, "inline", {}, {}, {}, {}, {}, {}});
    expectRoundTrip(DiagramsProgressPayload{3, 3, 0, "isolated", 1, 2, true, 120.5, 33, 40});
    expectRoundTrip(
        DiagramRequestPayload{"d1", "graph TD; A-->B", json(R"({"primaryColor":"#fff"})")});
    expectRoundTrip(DiagramRequestPayload{"d2", "x", JSONValue::null()});
    expectRoundTrip(DiagramResultPayload{"d1", "<svg/>", std::nullopt});
    expectRoundTrip(DiagramResultPayload::failure("d1", "timeout", "8 s"));
    expectRoundTrip(DiagramAppliedPayload{"d1", false});
    expectRoundTrip(CopyTextPayload{"let x = 1\n", "code"});
    expectRoundTrip(
        OpenLinkPayload{"other.md#a", OpenLinkPayload::Kind::relative, {true, false, true}});
}

TEST(Payloads, NavigationFindAndAnchorPayloadsRoundTrip) {
    expectRoundTrip(ScrolledPayload{"intro", false});
    expectRoundTrip(FindPayload{"needle", FindPayload::Direction::replaceAll, true, false});
    expectRoundTrip(FindResultPayload{0, -1, false});
    expectRoundTrip(AnchorPayload{sampleAnchor()});
    expectRoundTrip(AnchorPayload{});
    expectRoundTrip(sampleRestore());
    expectRoundTrip(AnchorRestoredPayload{ReadingAnchorStrategy::none, false, {}, "", 0, 0});
}

TEST(Payloads, AbsentOptionalsAreLeftOut) {
    EXPECT_EQ(PayloadCodec::encode(DiagramResultPayload{"d1", {}, {}}),
              json(R"({"diagramID":"d1"})"));
    EXPECT_EQ(PayloadCodec::encode(AnchorPayload{}), json("{}"));
    EXPECT_EQ(
        PayloadCodec::encode(
            AnchorRestoredPayload{ReadingAnchorStrategy::ratio, true, {}, "b", 1, 2}),
        json(R"({"strategy":"ratio","applied":true,"blockId":"b","scrollTop":1,"elapsedMs":2})"));
    EXPECT_EQ(
        PayloadCodec::encode(DiagramsProgressPayload{1, 0, 0, "inline", 1, {}, {}, {}, {}, {}}),
        json(R"({"total":1,"done":0,"failed":0,"mode":"inline","inline":1})"));
}

TEST(Payloads, MissingOrNullOptionalsDecodeAsAbsent) {
    const auto rendered = PayloadCodec::decode<RenderedPayload>(
        json(R"({"headings":[],"renderGeneration":4.0,"images":null,"unknown":{"x":1}})"));
    EXPECT_TRUE(rendered.headings.empty());
    EXPECT_EQ(rendered.renderGeneration, 4);
    EXPECT_FALSE(rendered.images || rendered.parserMode || rendered.timings || rendered.diagrams ||
                 rendered.blocks || rendered.degraded || rendered.anchorRestored ||
                 rendered.scrolledToSource || rendered.limits);

    EXPECT_FALSE(PayloadCodec::decode<AnchorPayload>(json("{}")).anchor);
    EXPECT_FALSE(PayloadCodec::decode<AnchorPayload>(json(R"({"anchor":null})")).anchor);

    const auto blocks =
        PayloadCodec::decode<RenderedPayload>(json(R"({"headings":[],"renderGeneration":1,
        "blocks":[{"id":"a","kind":"p","sourceStart":1,"sourceEnd":2},
                  {"id":"b","kind":"p","sourceStart":3,"sourceEnd":4,"depth":null},
                  {"id":"c","kind":"p","sourceStart":5,"sourceEnd":6,"depth":3}]})"));
    ASSERT_TRUE(blocks.blocks);
    EXPECT_EQ((*blocks.blocks)[0].depth, 0);
    EXPECT_EQ((*blocks.blocks)[1].depth, 0);
    EXPECT_EQ((*blocks.blocks)[2].depth, 3);

    const auto themeVariables = [](std::string_view value) {
        return PayloadCodec::decode<DiagramRequestPayload>(
                   json(std::string(R"({"diagramID":"d","source":"s","themeVariables":)") +
                        std::string(value) + "}"))
            .themeVariables;
    };
    EXPECT_EQ(themeVariables("{}"), JSONValue::object());
    EXPECT_EQ(themeVariables("\"dark\""), JSONValue::string("dark"));
    EXPECT_TRUE(themeVariables("null").isNull());
}

TEST(Payloads, StrictDecodingRefusesWholePayloads) {
    using K = CodingError::Kind;
    // Required keys.
    EXPECT_EQ(decodeFailure<RenderedPayload>(R"({"renderGeneration":1})"), K::keyNotFound);
    EXPECT_EQ(decodeFailure<RenderedPayload>(R"({"headings":null,"renderGeneration":1})"),
              K::valueNotFound);
    EXPECT_EQ(decodeFailure<RenderedPayload>(
                  R"({"headings":[],"renderGeneration":1,"timings":{"parseMs":1,"parseWaitMs":1,
                      "domMs":1,"diagramMs":0,"maxFrameGapMs":1,"frameCount":1}})"),
              K::keyNotFound);
    EXPECT_EQ(decodeFailure<CapabilitiesPayload>(
                  R"({"isSecureContext":true,"cryptoSubtle":true,"moduleWorker":true,
                      "dynamicImport":true,"cspBlockedInlineScript":false})"),
              K::keyNotFound);
    EXPECT_EQ(decodeFailure<OpenLinkPayload>(R"({"href":"a","kind":"file"})"), K::keyNotFound);
    EXPECT_EQ(decodeFailure<OpenLinkPayload>(
                  R"({"href":"a","kind":"file","modifiers":{"command":true,"option":false}})"),
              K::keyNotFound);
    EXPECT_EQ(
        decodeFailure<FindPayload>(R"({"query":"q","direction":"next","caseSensitive":true})"),
        K::keyNotFound);
    EXPECT_EQ(decodeFailure<DiagramRequestPayload>(R"({"diagramID":"d","source":"s"})"),
              K::keyNotFound);
    EXPECT_EQ(decodeFailure<AnchorRestoredPayload>(
                  R"({"strategy":"exact","applied":true,"blockId":"b","scrollTop":1})"),
              K::keyNotFound);
    // Enumerations take exactly their raw strings.
    EXPECT_EQ(
        decodeFailure<OpenLinkPayload>(
            R"({"href":"a","kind":"mailto","modifiers":{"command":false,"option":false,"shift":false}})"),
        K::dataCorrupted);
    EXPECT_EQ(decodeFailure<FindPayload>(
                  R"({"query":"q","direction":"Next","caseSensitive":true,"restart":true})"),
              K::dataCorrupted);
    EXPECT_EQ(
        decodeFailure<AnchorRestoredPayload>(
            R"({"strategy":"fuzzy","applied":true,"blockId":"b","scrollTop":1,"elapsedMs":1})"),
        K::dataCorrupted);
    // Integers are whole numbers; other kinds do not convert.
    EXPECT_EQ(
        decodeFailure<FindResultPayload>(R"({"matchCount":3,"activeIndex":1.5,"found":true})"),
        K::dataCorrupted);
    EXPECT_EQ(decodeFailure<RenderedPayload>(R"({"headings":[],"renderGeneration":1,
        "blocks":[{"id":"a","kind":"p","sourceStart":1,"sourceEnd":2,"depth":1.5}]})"),
              K::dataCorrupted);
    EXPECT_EQ(decodeFailure<ScrolledPayload>(R"({"id":"x","found":1})"), K::typeMismatch);
    EXPECT_EQ(decodeFailure<ActiveHeadingPayload>(R"({"id":"x","index":"2"})"), K::typeMismatch);
    EXPECT_EQ(decodeFailure<RenderedPayload>(R"({"headings":[{"level":1,"text":"t","id":7}],
        "renderGeneration":1})"),
              K::typeMismatch);
    EXPECT_EQ(decodeFailure<RenderedPayload>(R"({"headings":[null],"renderGeneration":1})"),
              K::valueNotFound);
    EXPECT_EQ(decodeFailure<CopyTextPayload>(R"(["text","kind"])"), K::typeMismatch);
}

TEST(Payloads, DecodingErrorsNameWhereTheyHappened) {
    try {
        PayloadCodec::decode<RenderedPayload>(json(R"({"headings":[],"renderGeneration":1,
            "blocks":[{"id":"a","kind":"p","sourceStart":1,"sourceEnd":2},
                      {"id":"b","kind":"p","sourceStart":1,"sourceEnd":2.5}]})"));
        FAIL();
    } catch (const CodingError& error) {
        EXPECT_EQ(error.codingPath(), "blocks[1].sourceEnd");
        EXPECT_NE(std::string(error.what()).find("2.5"), std::string::npos) << error.what();
    }
}

TEST(Payloads, NonFiniteNumbersNeverEncode) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(PayloadCodec::encode(ViewportInsetsPayload{nan, 0}), CodingError);
    EXPECT_THROW(PayloadCodec::encode(DiagramRequestPayload{"d", "s", JSONValue::number(INFINITY)}),
                 CodingError);
    ReadingAnchor anchor = sampleAnchor();
    anchor.scrollRatio = std::numeric_limits<double>::infinity();
    try {
        anchor.jsonValue();
        FAIL();
    } catch (const CodingError& error) {
        EXPECT_EQ(error.kind(), CodingError::Kind::invalidValue);
        EXPECT_EQ(error.codingPath(), "scrollRatio");
    }
}

TEST(Payloads, DerivedAnswers) {
    EXPECT_TRUE((RenderLimitsReport{0, 0, 0, 0}.isEmpty()));
    EXPECT_FALSE((RenderLimitsReport{0, 0, 1, 0}.isEmpty()));
    EXPECT_FALSE((RenderLimitsReport{0, 0, 0, -1}.isEmpty()));

    EXPECT_FALSE((LayoutReportPayload{780, 780, {}, {}, {}, {}, {}}.pageOverflows()));
    EXPECT_TRUE((LayoutReportPayload{780.5, 780, {}, {}, {}, {}, {}}.pageOverflows()));

    const auto progress = [](std::int64_t total, std::int64_t done, std::int64_t failed,
                             std::optional<bool> complete) {
        return DiagramsProgressPayload{total, done, failed, "inline", {}, {}, complete, {}, {}, {}}
            .isComplete();
    };
    EXPECT_TRUE(progress(3, 3, 0, std::nullopt));
    EXPECT_FALSE(progress(3, 2, 1, std::nullopt));  // failures are not done
    EXPECT_TRUE(progress(3, 2, 1, true));
    EXPECT_FALSE(progress(3, 3, 0, false));

    ReadingAnchor anchor = sampleAnchor();
    EXPECT_TRUE(anchor.hasBlock());
    anchor.fingerprint.clear();
    EXPECT_FALSE(anchor.hasBlock());
    anchor = sampleAnchor();
    anchor.blockId.clear();
    EXPECT_FALSE(anchor.hasBlock());
}

TEST(Payloads, AnchorJSONHasExactlyItsTenKeys) {
    const JSONValue value = sampleAnchor().jsonValue();
    EXPECT_EQ(value, json(R"({"version":2,"blockId":"b-12","kind":"paragraph","fingerprint":"f00d",
        "headingPath":["一","Two"],"sourceRange":{"start":40,"end":44},"relativeOffset":0.25,
        "offsetPx":12.5,"scrollTop":1800,"scrollRatio":0.4})"));
}

}  // namespace
}  // namespace larkspin
