#include "Reader/ReaderLog.hpp"

#include <fmt/format.h>

#include <cmath>
#include <limits>

#include "Platform/Json/RawValue.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Payloads/TypographyRawValues.hpp"

namespace larkspin::ReaderLog {

namespace {

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (const auto& part : parts) {
        if (!text.empty()) text += separator;
        text += part;
    }
    return text;
}

double orMinusOne(const std::optional<double>& value) { return value.value_or(-1.0); }

std::string familyText(const std::string& family) { return family.empty() ? "默认" : family; }

}  // namespace

std::int64_t wholeNumber(double value) {
    if (std::isnan(value)) return 0;
    // 2^63 is exactly representable; anything at or beyond it is clamped.
    constexpr double limit = 9223372036854775808.0;
    if (value >= limit) return std::numeric_limits<std::int64_t>::max();
    if (value <= -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(std::trunc(value));
}

std::string fixed(double value, int decimals) { return fmt::format("{:.{}f}", value, decimals); }

void rendered(const RenderedPayload& reply, bool windowActive) {
    const auto& timings = reply.timings;
    const std::string parseMs = timings ? fixed(timings->parseMs, 1) : "-";
    const std::string parseTimeoutMs =
        timings && timings->parseTimeoutMs ? fixed(*timings->parseTimeoutMs, 0) : "-";
    const std::string totalMs = timings ? fixed(timings->totalMs, 1) : "-";
    const std::int64_t blocks = reply.blocks ? static_cast<std::int64_t>(reply.blocks->size()) : 0;
    std::string imagesText;
    if (reply.images) {
        imagesText = fmt::format("，图片 local={} remote={} rejected={}", reply.images->local,
                                 reply.images->remote, reply.images->rejected);
    }
    std::string diagramsText;
    if (reply.diagrams) {
        diagramsText = fmt::format("，diagrams total={} failed={} diagramMs={}", reply.diagrams->total,
                                   reply.diagrams->failed,
                                   timings ? fixed(timings->diagramMs, 0) : "0");
    }
    AppLog::bridge.info(
        "rendered：%ld 个标题，renderGeneration %ld，parserMode=%{public}s parseMs=%{public}s "
        "parseTimeoutMs=%{public}s totalMs=%{public}s blocks=%ld%{public}s%{public}s",
        static_cast<std::int64_t>(reply.headings.size()), reply.renderGeneration,
        reply.parserMode.value_or("unknown"), parseMs, parseTimeoutMs, totalMs, blocks, imagesText,
        diagramsText);
    if (reply.degraded) {
        AppLog::bridge.error(
            "render 降级为纯文本（%{public}s，parseTimeoutMs=%{public}s，窗口活动=%{bool}d）：%{private}s",
            reply.degraded->reason, parseTimeoutMs, windowActive, reply.degraded->message);
    }
}

void scrolledToSource(const ScrolledToSourcePayload& report) {
    AppLog::bridge.info(
        "scrolledToSource：line=%ld found=%{bool}d strategy=%{public}s block=%{public}s lines=%ld-%ld",
        report.line, report.found, report.strategy, report.blockId, report.sourceStart,
        report.sourceEnd);
}

void anchorRestored(const AnchorRestoredPayload& report) {
    const std::string reason = report.reason ? " reason=" + *report.reason : std::string();
    AppLog::bridge.info(
        "anchorRestored：strategy=%{public}s applied=%{bool}d block=%{public}s scrollTop=%ld "
        "elapsedMs=%{public}s%{public}s",
        rawValue(report.strategy), report.applied, report.blockId, wholeNumber(report.scrollTop),
        fixed(report.elapsedMs, 1), reason);
}

void capturedAnchor(const ReadingAnchor& anchor) {
    AppLog::bridge.info(
        "captureAnchor：block=%{public}s kind=%{public}s fp=%{public}s path=%{private}s "
        "lines=%ld-%ld offset=%{public}s/%ldpx scrollTop=%ld ratio=%{public}s",
        anchor.blockId, anchor.kind, anchor.fingerprint, joined(anchor.headingPath, " › "),
        anchor.sourceRange.start, anchor.sourceRange.end, fixed(anchor.relativeOffset, 3),
        wholeNumber(anchor.offsetPx), wholeNumber(anchor.scrollTop), fixed(anchor.scrollRatio, 3));
}

void layoutReport(const LayoutReportPayload& report) {
    const std::string reason = report.reason.value_or("?");
    if (report.clientWidth < report.pageScrollWidth) {
        std::vector<std::string> blocks;
        for (const auto& block : report.overflowingBlocks) {
            blocks.push_back(fmt::format("{}{} {}/{}", block.kind, block.selector,
                                         wholeNumber(block.scrollWidth),
                                         wholeNumber(block.clientWidth)));
        }
        AppLog::layout.error(
            "整页横向逃逸：pageScrollWidth=%f > clientWidth=%f（reason=%{public}s，prose=%f "
            "available=%f）；块内滚动：%{private}s",
            report.pageScrollWidth, report.clientWidth, reason, orMinusOne(report.proseWidth),
            orMinusOne(report.availableWidth), joined(blocks, ", "));
        return;
    }
    AppLog::layout.info(
        "layoutReport reason=%{public}s page=%f/%f prose=%f available=%f wide=%ld overflowing=%ld",
        reason, report.pageScrollWidth, report.clientWidth, orMinusOne(report.proseWidth),
        orMinusOne(report.availableWidth),
        static_cast<std::int64_t>(report.wideBlocks ? report.wideBlocks->size() : 0),
        static_cast<std::int64_t>(report.overflowingBlocks.size()));
}

void diagramsProgress(const DiagramsProgressPayload& report) {
    const bool finished = report.complete.value_or(report.done >= report.total);
    if (!finished) {
        AppLog::diagrams.info("diagramsProgress %ld/%ld failed=%ld mode=%{public}s", report.done,
                              report.total, report.failed, report.mode);
        return;
    }
    AppLog::diagrams.info(
        "diagramsProgress 完成：total=%ld done=%ld failed=%ld mode=%{public}s inline=%ld "
        "isolated=%ld diagramMs=%ld maxFrameGapMs=%ld frameCount=%ld",
        report.total, report.done, report.failed, report.mode, report.inlineCount.value_or(-1),
        report.isolated.value_or(-1), wholeNumber(report.diagramMs.value_or(0)),
        wholeNumber(report.maxFrameGapMs.value_or(0)), wholeNumber(report.frameCount.value_or(0)));
}

void typographyApplied(const TypographyAppliedPayload& reply) {
    const std::string refused = joined(reply.rejected, "; ");
    const std::string suffix = reply.rejected.empty() ? std::string() : "，rejected: " + refused;
    AppLog::bridge.info(
        "typographyApplied fontSize=%f width=%{public}s(%frem) lineHeight=%{public}s(%f) "
        "body=%{public}s mono=%{public}s heading=%{public}s weight=%ld/%ld%{public}s",
        reply.fontSizePx, rawValue(reply.widthPreset), reply.proseWidthRem,
        rawValue(reply.lineHeightPreset), reply.lineHeight, familyText(reply.bodyFamily),
        familyText(reply.monoFamily), familyText(reply.headingFamily), reply.fontWeight,
        reply.headingWeight, suffix);
    if (!reply.rejected.empty()) {
        AppLog::bridge.error("typographyApplied 有被拒字段：%{public}s", refused);
    }
}

}  // namespace larkspin::ReaderLog
