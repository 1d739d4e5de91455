#pragma once

#include <optional>
#include <string>
#include <vector>

// The event "layoutReport" with its two block records. Widths are CSS pixels.
namespace larkspin {

// A block whose content is wider than its own box.
struct OverflowingBlock {
    std::string kind;
    std::string selector;
    double scrollWidth = 0;
    double clientWidth = 0;

    bool operator==(const OverflowingBlock&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("kind", self.kind);
        coder.field("selector", self.selector);
        coder.field("scrollWidth", self.scrollWidth);
        coder.field("clientWidth", self.clientWidth);
    }
};

// A block laid out wider than the prose column.
struct WideBlockRecord {
    std::string kind;
    std::string selector;
    double width = 0;

    bool operator==(const WideBlockRecord&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("kind", self.kind);
        coder.field("selector", self.selector);
        coder.field("width", self.width);
    }
};

struct LayoutReportPayload {
    double pageScrollWidth = 0;
    double clientWidth = 0;
    std::vector<OverflowingBlock> overflowingBlocks;
    std::optional<double> proseWidth;
    std::optional<double> availableWidth;
    std::optional<std::vector<WideBlockRecord>> wideBlocks;
    std::optional<std::string> reason;

    // The page is wider than its view (strictly; no tolerance).
    bool pageOverflows() const { return pageScrollWidth > clientWidth; }

    bool operator==(const LayoutReportPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("pageScrollWidth", self.pageScrollWidth);
        coder.field("clientWidth", self.clientWidth);
        coder.field("overflowingBlocks", self.overflowingBlocks);
        coder.field("proseWidth", self.proseWidth);
        coder.field("availableWidth", self.availableWidth);
        coder.field("wideBlocks", self.wideBlocks);
        coder.field("reason", self.reason);
    }
};

}  // namespace larkspin
