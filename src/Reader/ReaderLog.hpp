#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Protocol/Payloads/AnchorRestoredPayload.hpp"
#include "Protocol/Payloads/DiagramsProgressPayload.hpp"
#include "Protocol/Payloads/LayoutReportPayload.hpp"
#include "Protocol/Payloads/ReadingAnchor.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"
#include "Protocol/Payloads/TypographyAppliedPayload.hpp"

// The reader view's longer log lines, built from the page's payloads. The
// page's numbers are doubles of any size: every one that a line writes as a
// whole number goes through wholeNumber() first, so a NaN or 1e300 never
// reaches an integer conversion.
namespace larkspin::ReaderLog {

// Truncated toward zero and clamped into the 64-bit range; NaN gives 0.
std::int64_t wholeNumber(double value);
// "%.Nf" of the value ("nan", "inf" for those).
std::string fixed(double value, int decimals);

// "rendered：…" (bridge, info) and, for a degraded reply, "render 降级为纯文本…"
// (bridge, error); `windowActive` is the reader's state when the reply came.
void rendered(const RenderedPayload& reply, bool windowActive);
// "scrolledToSource：…" (bridge, info).
void scrolledToSource(const ScrolledToSourcePayload& report);
// "anchorRestored：…" (bridge, info).
void anchorRestored(const AnchorRestoredPayload& report);
// "captureAnchor：…" (bridge, info).
void capturedAnchor(const ReadingAnchor& anchor);
// "layoutReport …" (layout, info), or "整页横向逃逸：…" (layout, error) when the
// page itself scrolls sideways.
void layoutReport(const LayoutReportPayload& report);
// "diagramsProgress …" or "diagramsProgress 完成：…" (diagrams, info).
void diagramsProgress(const DiagramsProgressPayload& report);
// "typographyApplied …" (bridge, info) and, when fields were refused,
// "typographyApplied 有被拒字段：…" (bridge, error).
void typographyApplied(const TypographyAppliedPayload& reply);

}  // namespace larkspin::ReaderLog
