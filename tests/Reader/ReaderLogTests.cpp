// The reader's long log lines, exactly as written, and the clamping of the
// page's numbers before they become whole numbers.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Platform/Json/JSONValue.hpp"
#include "Platform/Json/PayloadCodec.hpp"
#include "Reader/ReaderLog.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin::test {
namespace {

template <typename T>
T decode(std::string_view json) {
    return PayloadCodec::decode<T>(JSONValue::parse(json));
}

TEST(ReaderLog, WritesEachLineExactly) {
    AppLog::setRevealPrivateForTesting(true);
    AnchorRestoredPayload restored;
    restored.strategy = ReadingAnchorStrategy::fingerprint;
    restored.applied = true;
    restored.blockId = "b9";
    restored.scrollTop = -1e300;
    restored.elapsedMs = 3.25;
    restored.reason = "moved";
    const std::vector<std::pair<std::function<void()>, std::vector<std::string>>> cases{
        {[] { ReaderLog::rendered(decode<RenderedPayload>(R"({"headings":[],"renderGeneration":3,"images":{"local":2,"remote":1,"rejected":0}})"), true); },
         {"bridge info: rendered：0 个标题，renderGeneration 3，parserMode=unknown parseMs=- "
          "parseTimeoutMs=- totalMs=- blocks=0，图片 local=2 remote=1 rejected=0"}},
        {[] {
             ReaderLog::rendered(decode<RenderedPayload>(
                 R"({"headings":[{"level":1,"text":"A","id":"a"}],"renderGeneration":4,"parserMode":"worker",)"
                 R"("timings":{"parseMs":12.34,"parseWaitMs":0,"parseTimeoutMs":1500,"domMs":1,"diagramMs":7.6,)"
                 R"("maxFrameGapMs":3,"frameCount":2,"totalMs":40.05},"blocks":[{"id":"b","kind":"p","sourceStart":0,"sourceEnd":1}],)"
                 R"("diagrams":{"total":2,"failed":1},"degraded":{"reason":"timeout","message":"too slow"}})"), false);
         },
         {"bridge info: rendered：1 个标题，renderGeneration 4，parserMode=worker parseMs=12.3 "
          "parseTimeoutMs=1500 totalMs=40.0 blocks=1，diagrams total=2 failed=1 diagramMs=8",
          "bridge error: render 降级为纯文本（timeout，parseTimeoutMs=1500，窗口活动=false）：too slow"}},
        {[restored]() mutable {
             ReaderLog::anchorRestored(restored);
             restored.reason.reset();
             restored.scrollTop = std::nan("");
             ReaderLog::anchorRestored(restored);
         },
         {"bridge info: anchorRestored：strategy=fingerprint applied=true block=b9 "
          "scrollTop=-9223372036854775808 elapsedMs=3.2 reason=moved",
          "bridge info: anchorRestored：strategy=fingerprint applied=true block=b9 scrollTop=0 elapsedMs=3.2"}},
        {[] { ReaderLog::scrolledToSource(decode<ScrolledToSourcePayload>(R"({"line":7,"found":false,"blockId":"b","sourceStart":6,"sourceEnd":8,"strategy":"nearest"})")); },
         {"bridge info: scrolledToSource：line=7 found=false strategy=nearest block=b lines=6-8"}},
        {[] { ReaderLog::layoutReport(decode<LayoutReportPayload>(R"({"pageScrollWidth":800,"clientWidth":800,"overflowingBlocks":[{"kind":"pre","selector":"#b1","scrollWidth":900,"clientWidth":700}]})")); },
         {"layout info: layoutReport reason=? page=800.000000/800.000000 prose=-1.000000 "
          "available=-1.000000 wide=0 overflowing=1"}},
        {[] {
             ReaderLog::layoutReport(decode<LayoutReportPayload>(
                 R"({"pageScrollWidth":800,"clientWidth":799,"reason":"resize","proseWidth":640,)"
                 R"("overflowingBlocks":[{"kind":"pre","selector":"#b1","scrollWidth":1e300,"clientWidth":700.9},)"
                 R"({"kind":"table","selector":".t","scrollWidth":10,"clientWidth":5}]})"));
         },
         {"layout error: 整页横向逃逸：pageScrollWidth=800.000000 > clientWidth=799.000000"
          "（reason=resize，prose=640.000000 available=-1.000000）；块内滚动："
          "pre#b1 9223372036854775807/700, table.t 10/5"}},
        {[] {
             ReaderLog::diagramsProgress(decode<DiagramsProgressPayload>(R"({"total":3,"done":3,"failed":0,"mode":"isolated","complete":false})"));
             ReaderLog::diagramsProgress(decode<DiagramsProgressPayload>(R"({"total":3,"done":3,"failed":1,"mode":"isolated","diagramMs":12.9,"frameCount":1e300})"));
         },
         {"diagrams info: diagramsProgress 3/3 failed=0 mode=isolated",
          "diagrams info: diagramsProgress 完成：total=3 done=3 failed=1 mode=isolated inline=-1 "
          "isolated=-1 diagramMs=12 maxFrameGapMs=0 frameCount=9223372036854775807"}},
    };
    for (const auto& [emit, expected] : cases) {
        LogCapture logs;
        emit();
        std::vector<std::string> lines;
        for (const auto& r : logs.records()) lines.push_back(r.category + " " + std::string(toString(r.level)) + ": " + r.message);
        EXPECT_EQ(lines, expected);
    }
    AppLog::setRevealPrivateForTesting(std::nullopt);
}

TEST(ReaderLog, WholeNumbersNeverOverflow) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    for (const auto& [value, whole] : {std::pair{12.9, std::int64_t{12}}, {-12.9, -12}, {std::nan(""), 0},
                                       {INFINITY, max}, {-INFINITY, min}, {9223372036854775807.0, max}}) {
        EXPECT_EQ(ReaderLog::wholeNumber(value), whole) << value;
    }
}

}  // namespace
}  // namespace larkspin::test
