#pragma once

namespace larkspin {

// The request "setViewportInsets": how much of the page is covered at the top
// and bottom. Equality lets the reader view skip sending unchanged insets.
struct ViewportInsetsPayload {
    double top = 0;
    double bottom = 0;

    bool operator==(const ViewportInsetsPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("top", self.top);
        coder.field("bottom", self.bottom);
    }
};

}  // namespace larkspin
