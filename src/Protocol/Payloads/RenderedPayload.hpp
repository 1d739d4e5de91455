#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Protocol/Payloads/AnchorRestoredPayload.hpp"
#include "Protocol/Payloads/BridgeHeading.hpp"

// The page's reply "rendered" to "render", with the small records that exist
// only inside it.
namespace larkspin {

// Counts of the document's images as the page found them.
struct ImageSummary {
    std::int64_t local = 0;
    std::int64_t remote = 0;
    std::int64_t rejected = 0;

    bool operator==(const ImageSummary&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("local", self.local);
        coder.field("remote", self.remote);
        coder.field("rejected", self.rejected);
    }
};

// Durations of the render's stages in milliseconds; `frameCount` is a count
// carried as a number.
struct RenderTimings {
    double parseMs = 0;
    double parseWaitMs = 0;
    std::optional<double> parseTimeoutMs;
    double domMs = 0;
    double diagramMs = 0;
    double maxFrameGapMs = 0;
    double frameCount = 0;
    double totalMs = 0;
    std::optional<double> postDomMs;

    bool operator==(const RenderTimings&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("parseMs", self.parseMs);
        coder.field("parseWaitMs", self.parseWaitMs);
        coder.field("parseTimeoutMs", self.parseTimeoutMs);
        coder.field("domMs", self.domMs);
        coder.field("diagramMs", self.diagramMs);
        coder.field("maxFrameGapMs", self.maxFrameGapMs);
        coder.field("frameCount", self.frameCount);
        coder.field("totalMs", self.totalMs);
        coder.field("postDomMs", self.postDomMs);
    }
};

// Diagram blocks in the document and how many failed.
struct DiagramSummary {
    std::int64_t total = 0;
    std::int64_t failed = 0;

    bool operator==(const DiagramSummary&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("total", self.total);
        coder.field("failed", self.failed);
    }
};

// A rendered block and its source lines. A missing or null "depth" is 0.
struct RenderedBlock {
    std::string id;
    std::string kind;
    std::int64_t sourceStart = 0;
    std::int64_t sourceEnd = 0;
    std::int64_t depth = 0;

    bool operator==(const RenderedBlock&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("id", self.id);
        coder.field("kind", self.kind);
        coder.field("sourceStart", self.sourceStart);
        coder.field("sourceEnd", self.sourceEnd);
        coder.field("depth", self.depth, std::int64_t{0});
    }
};

// The page fell back to plain text. The reason "timeout" means parsing ran
// past the page's limit; the reader view renders such a document again when
// its window becomes active.
struct RenderDegradation {
    std::string reason;
    std::string message;

    bool operator==(const RenderDegradation&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("reason", self.reason);
        coder.field("message", self.message);
    }
};

// The outcome of the request's "scrollToSource".
struct ScrolledToSourcePayload {
    std::int64_t line = 0;
    bool found = false;
    std::string blockId;
    std::int64_t sourceStart = 0;
    std::int64_t sourceEnd = 0;
    std::string strategy;

    bool operator==(const ScrolledToSourcePayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("line", self.line);
        coder.field("found", self.found);
        coder.field("blockId", self.blockId);
        coder.field("sourceStart", self.sourceStart);
        coder.field("sourceEnd", self.sourceEnd);
        coder.field("strategy", self.strategy);
    }
};

// How often the page cut the document down to keep it manageable.
struct RenderLimitsReport {
    std::int64_t depthClamped = 0;
    std::int64_t nodesClamped = 0;
    std::int64_t codeTruncated = 0;
    std::int64_t diagramsSkipped = 0;

    bool isEmpty() const {
        return depthClamped == 0 && nodesClamped == 0 && codeTruncated == 0 && diagramsSkipped == 0;
    }

    bool operator==(const RenderLimitsReport&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("depthClamped", self.depthClamped);
        coder.field("nodesClamped", self.nodesClamped);
        coder.field("codeTruncated", self.codeTruncated);
        coder.field("diagramsSkipped", self.diagramsSkipped);
    }
};

struct RenderedPayload {
    std::vector<BridgeHeading> headings;
    std::int64_t renderGeneration = 0;
    std::optional<ImageSummary> images;
    std::optional<std::string> parserMode;
    std::optional<RenderTimings> timings;
    std::optional<DiagramSummary> diagrams;
    std::optional<std::vector<RenderedBlock>> blocks;
    std::optional<RenderDegradation> degraded;
    std::optional<AnchorRestoredPayload> anchorRestored;
    std::optional<ScrolledToSourcePayload> scrolledToSource;
    std::optional<RenderLimitsReport> limits;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("headings", self.headings);
        coder.field("renderGeneration", self.renderGeneration);
        coder.field("images", self.images);
        coder.field("parserMode", self.parserMode);
        coder.field("timings", self.timings);
        coder.field("diagrams", self.diagrams);
        coder.field("blocks", self.blocks);
        coder.field("degraded", self.degraded);
        coder.field("anchorRestored", self.anchorRestored);
        coder.field("scrolledToSource", self.scrolledToSource);
        coder.field("limits", self.limits);
    }
};

}  // namespace larkspin
