// The render request's members are checked against the golden envelopes
// (BridgeEnvelopeTests); here, what becomes of an anchor JSON cannot carry.

#include <gtest/gtest.h>

#include <limits>

#include "Protocol/ReaderTestSupport.hpp"
#include "Protocol/Payloads/RenderRequestPayload.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

TEST(RenderRequest, AnAnchorThatCannotBecomeJSONIsLeftOutAndLogged) {
    test::LogCapture log;
    ReadingAnchor anchor;
    anchor.scrollRatio = std::numeric_limits<double>::quiet_NaN();
    const RenderRequestPayload request{std::make_shared<const std::string>("text"), "zh-Hans", {}, false, {}, anchor};
    EXPECT_EQ(request.jsonValue(), json(R"({"source":"text","language":"zh-Hans"})"));
    EXPECT_TRUE(log.contains("bridge", "restoreAnchor")) << "the dropped anchor is logged";
}

}  // namespace
}  // namespace larkspin
