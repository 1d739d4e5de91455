#pragma once

namespace larkspin {

// Which optional renderings the page performs; the "enhancements" member of a
// render request. A large document first renders with all three off.
struct RenderEnhancements {
    bool highlight = false;
    bool math = false;
    bool diagrams = false;

    bool operator==(const RenderEnhancements&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("highlight", self.highlight);
        coder.field("math", self.math);
        coder.field("diagrams", self.diagrams);
    }
};

}  // namespace larkspin
