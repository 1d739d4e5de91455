#include <gtest/gtest.h>

#include <limits>

#include "Platform/Json/PayloadCodec.hpp"
#include "Protocol/RenderRequestPayload.hpp"
#include "Protocol/ReaderTestSupport.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

ReadingAnchor anchorAt(double scrollRatio) {
    ReadingAnchor anchor;
    anchor.version = 1;
    anchor.blockId = "b";
    anchor.fingerprint = "f";
    anchor.sourceRange = {3, 4};
    anchor.scrollRatio = scrollRatio;
    return anchor;
}

TEST(RenderRequest, OptionalMembersAreAbsentRatherThanFalse) {
    RenderRequestPayload request{"# Hi", "en", {}, false, {}, {}};
    EXPECT_EQ(request.jsonValue(), json(R"({"source":"# Hi","language":"en"})"));

    request.enhancements = RenderEnhancements{false, true, false};
    request.background = true;
    request.scrollToSourceLine = 42;
    request.restoreAnchor = anchorAt(0.5);
    const JSONValue full = request.jsonValue();
    EXPECT_EQ(*full.find("enhancements"),
              json(R"({"highlight":false,"math":true,"diagrams":false})"));
    EXPECT_EQ(*full.find("background"), JSONValue::boolean(true));
    EXPECT_EQ(*full.find("scrollToSource"), json(R"({"line":42})"));
    EXPECT_EQ(PayloadCodec::decode<ReadingAnchor>(*full.find("restoreAnchor")), anchorAt(0.5));
    EXPECT_EQ(full.objectValue()->size(), 6u);
}

TEST(RenderRequest, AnAnchorThatCannotBecomeJSONIsLeftOutAndLogged) {
    test::LogCapture log;
    RenderRequestPayload request{
        "text", "zh-Hans", {}, false, {}, anchorAt(std::numeric_limits<double>::quiet_NaN())};
    const JSONValue payload = request.jsonValue();
    EXPECT_EQ(payload, json(R"({"source":"text","language":"zh-Hans"})"));
    EXPECT_TRUE(log.contains("bridge", "restoreAnchor")) << "the dropped anchor is logged";
    // The render itself still encodes.
    EXPECT_NO_THROW(payload.serialized());
}

}  // namespace
}  // namespace larkspin
