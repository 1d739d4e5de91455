#pragma once

namespace larkspin {

// The reply "viewportInsetsApplied": the insets applied and the resulting
// offset of the page's content origin.
struct ViewportInsetsAppliedPayload {
    double top = 0;
    double bottom = 0;
    double originOffset = 0;

    bool operator==(const ViewportInsetsAppliedPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("top", self.top);
        coder.field("bottom", self.bottom);
        coder.field("originOffset", self.originOffset);
    }
};

}  // namespace larkspin
