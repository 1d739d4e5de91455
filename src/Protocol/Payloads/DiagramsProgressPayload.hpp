#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace larkspin {

// The event "diagramsProgress".
struct DiagramsProgressPayload {
    std::int64_t total = 0;
    std::int64_t done = 0;
    std::int64_t failed = 0;
    std::string mode;
    std::optional<std::int64_t> inlineCount;  // key "inline"
    std::optional<std::int64_t> isolated;
    std::optional<bool> complete;
    std::optional<double> diagramMs;
    std::optional<double> maxFrameGapMs;
    std::optional<double> frameCount;

    // The page's own "complete" when it sent one; otherwise done ≥ total
    // (failures are not counted as done).
    bool isComplete() const { return complete.value_or(done >= total); }

    bool operator==(const DiagramsProgressPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("total", self.total);
        coder.field("done", self.done);
        coder.field("failed", self.failed);
        coder.field("mode", self.mode);
        coder.field("inline", self.inlineCount);
        coder.field("isolated", self.isolated);
        coder.field("complete", self.complete);
        coder.field("diagramMs", self.diagramMs);
        coder.field("maxFrameGapMs", self.maxFrameGapMs);
        coder.field("frameCount", self.frameCount);
    }
};

}  // namespace larkspin
