#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Platform/Json/JSONValue.hpp"

namespace larkspin {

// Where the reader is in a rendered document, as the page computed it. The
// native side keeps it and hands it back with the next render; it never
// interprets the block identifier, fingerprint or offsets.
struct ReadingAnchor {
    struct SourceRange {
        std::int64_t start = 0;
        std::int64_t end = 0;

        bool operator==(const SourceRange&) const = default;

        template <typename Self, typename Coder>
        static void codingFields(Self& self, Coder& coder) {
            coder.field("start", self.start);
            coder.field("end", self.end);
        }
    };

    std::int64_t version = 0;
    std::string blockId;
    std::string kind;
    std::string fingerprint;
    std::vector<std::string> headingPath;
    SourceRange sourceRange;
    double relativeOffset = 0;
    double offsetPx = 0;
    double scrollTop = 0;
    double scrollRatio = 0;

    // Both the block identifier and the fingerprint are non-empty.
    bool hasBlock() const { return !blockId.empty() && !fingerprint.empty(); }

    // The JSON object sent as "restoreAnchor", with all ten keys. Throws
    // CodingError (invalidValue) when a number is not finite.
    JSONValue jsonValue() const;

    bool operator==(const ReadingAnchor&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("version", self.version);
        coder.field("blockId", self.blockId);
        coder.field("kind", self.kind);
        coder.field("fingerprint", self.fingerprint);
        coder.field("headingPath", self.headingPath);
        coder.field("sourceRange", self.sourceRange);
        coder.field("relativeOffset", self.relativeOffset);
        coder.field("offsetPx", self.offsetPx);
        coder.field("scrollTop", self.scrollTop);
        coder.field("scrollRatio", self.scrollRatio);
    }
};

}  // namespace larkspin
