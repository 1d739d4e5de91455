#pragma once

#include <string>
#include <vector>

#include "Protocol/Payloads/ActiveHeadingPayload.hpp"
#include "Protocol/Payloads/BridgeHeading.hpp"
#include "Protocol/Payloads/OpenLinkPayload.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"
#include "Reader/ProcessRecoveryAction.hpp"

namespace larkspin {

// What a reader tells whoever owns it (a document's tab page). A reader is
// made with its owner, and each event is the owner's to handle: an owner
// that leaves one out does not compile. Called on the main thread, last in
// the reader's step; a handler may destroy the reader. Once the owner is
// gone, its reader's events go nowhere.
class ReaderOwner {
public:
    virtual ~ReaderOwner() = default;
    // The page answered a render: its reply, with the headings (possibly
    // none) and the degradation, if any. Valid while the handler runs.
    virtual void readerDidRender(const RenderedPayload& reply) = 0;
    // The heading the page is reading changed.
    virtual void readerDidReportActiveHeading(const ActiveHeadingPayload& heading) = 0;
    // A link was clicked in the page.
    virtual void readerDidRequestOpenLink(const OpenLinkPayload& link) = 0;
    // The page was refused a file of the document's folder (`path`).
    virtual void readerWasDeniedResource(const std::string& path) = 0;
    // The web content process ended, or the user pressed retry on the
    // crash-loop page: the owner decides when the reader gets a web view
    // again (`ensureWebView`).
    virtual void readerNeedsProcessRecovery(ProcessRecoveryAction action) = 0;
};

}  // namespace larkspin
