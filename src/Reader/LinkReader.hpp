#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Platform/Async/Task.hpp"
#include "Protocol/Payloads/ScrolledPayload.hpp"

namespace larkspin {

// What the link opener above asks of a document's reader: the reader of its
// first page, as far as links go. Main thread.
class LinkReader {
public:
    virtual ~LinkReader() = default;

    // Asks the page to scroll to the heading `id`; `found` false when the
    // page has no such heading. Throws what the bridge throws.
    virtual Task<ScrolledPayload> scrollToHeading(std::string id) = 0;
    // Which banner: each showing has its own, so a writer hides only its own.
    using BannerID = std::uint64_t;

    // The reader's banner: the message, one button, and what the button and
    // the banner's close do. It replaces any banner shown.
    virtual BannerID showBanner(std::string message, std::string actionTitle,
                                std::function<void()> onAction,
                                std::function<void()> onDismiss) = 0;
    // Hides the banner `banner`; nothing when another one (or none) is shown.
    virtual void hideBanner(BannerID banner) = 0;
};

}  // namespace larkspin
