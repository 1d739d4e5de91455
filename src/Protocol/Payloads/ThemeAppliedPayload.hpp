#pragma once

#include <cstdint>
#include <string>

namespace larkspin {

// The reply "themeApplied": the theme the page applied, the revision echoed
// from the request and the number of tokens applied.
struct ThemeAppliedPayload {
    std::string themeID;
    std::int64_t themeRevision = 0;
    std::int64_t appliedCount = 0;

    bool operator==(const ThemeAppliedPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("themeID", self.themeID);
        coder.field("themeRevision", self.themeRevision);
        coder.field("appliedCount", self.appliedCount);
    }
};

}  // namespace larkspin
