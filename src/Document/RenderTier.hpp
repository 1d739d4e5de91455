#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Model/LoadedDocument.hpp"
#include "Protocol/Payloads/RenderEnhancements.hpp"
#include "Reader/ReaderHost.hpp"

namespace larkspin {

// The size of `bytes` in MiB with one decimal ("6.0"), always with a point:
// the locale's decimal comma never reaches a banner or a log line.
std::string formatMebibytes(std::int64_t bytes);

// The one-line banner above the page.
struct RenderBanner {
    enum class Action { dismiss, renderFully };

    std::string message;
    std::string actionTitle;
    Action action = Action::dismiss;  // the button's; the close control always hides

    bool operator==(const RenderBanner&) const = default;
};

// How a document shows what it loaded, decided from the load alone: a failed
// load shows its failure page, a normal file renders fully (with the
// encoding's notice when it has one), a large file (above 5 MiB) renders
// without highlighting, math and diagrams until the user asks, and a
// restricted file (above 20 MiB) never reaches the web view and shows a
// read-only preview of its first MiB.
struct RenderPlan {
    enum class Kind { failure, normal, large, restricted };

    Kind kind = Kind::normal;
    // Whether the text goes to the reader, and with which switches (none:
    // the page's defaults, which render everything).
    bool renders = false;
    std::optional<RenderEnhancements> enhancements;
    std::optional<RenderBanner> banner;
    // The document's own status page instead of the rendered text.
    std::optional<DocumentStatusContent> status;

    bool operator==(const RenderPlan&) const = default;
};

RenderPlan planRendering(const LoadedDocument& loaded);

// The banner shown the first time the page is refused a document image:
// with the file permissions wording, or inside a Flatpak sandbox with the way
// to grant access (choosing the file again through the open dialog).
std::string accessDeniedBannerMessage(bool sandboxed);

}  // namespace larkspin
