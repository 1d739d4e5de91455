#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Json/JSONValue.hpp"
#include "Protocol/Payloads/ReadingAnchor.hpp"
#include "Protocol/Payloads/RenderEnhancements.hpp"

namespace larkspin {

// The payload of "render". It is written straight into a JSON object, key by
// key, so that a member the reader view does not have is absent rather than
// false or null.
struct RenderRequestPayload {
    // The Markdown text, shared with its owner and never copied until it is
    // written as JSON (on the bridge's worker queue); none is written as "".
    std::shared_ptr<const std::string> source;
    std::string language;  // RendererLanguage::resolve(...): "en" or "zh-Hans"
    std::optional<RenderEnhancements> enhancements;
    bool background = false;                         // the window is not the active one
    std::optional<std::int64_t> scrollToSourceLine;  // a pending scroll, used up by this request
    std::optional<ReadingAnchor> restoreAnchor;

    // The object sent as the payload: "source" and "language" always;
    // "enhancements" ({"highlight","math","diagrams"}), "background": true,
    // "scrollToSource": {"line": n} and "restoreAnchor" only when present.
    //
    // An anchor that cannot become JSON (a non-finite number) is left out and
    // the failure is logged: the user's render never waits on a reading
    // position.
    JSONValue jsonValue() const;
};

}  // namespace larkspin
