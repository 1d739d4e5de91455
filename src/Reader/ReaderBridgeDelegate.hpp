#pragma once

#include "Reader/ActiveHeadingPayload.hpp"
#include "Reader/AnchorRestoredPayload.hpp"
#include "Reader/BridgeErrorPayload.hpp"
#include "Reader/CopyTextPayload.hpp"
#include "Reader/DiagramRequestPayload.hpp"
#include "Reader/DiagramsProgressPayload.hpp"
#include "Reader/LayoutReportPayload.hpp"
#include "Reader/OpenLinkPayload.hpp"

namespace larkspin {

class ReaderBridge;

// Receives the page's events from a reader bridge, one operation per event,
// on the main thread. The bridge holds its delegate weakly. Every adopter
// handles readiness and errors; the other events default to nothing.
class ReaderBridgeDelegate {
public:
    virtual ~ReaderBridgeDelegate() = default;

    virtual void bridgeDidBecomeReady(ReaderBridge& bridge) = 0;
    virtual void bridgeDidReceiveError(ReaderBridge& bridge, const BridgeErrorPayload& error) = 0;
    virtual void bridgeDidReportActiveHeading(ReaderBridge&, const ActiveHeadingPayload&) {}
    virtual void bridgeDidReceiveLayoutReport(ReaderBridge&, const LayoutReportPayload&) {}
    virtual void bridgeDidReportDiagramsProgress(ReaderBridge&, const DiagramsProgressPayload&) {}
    virtual void bridgeDidRequestDiagram(ReaderBridge&, const DiagramRequestPayload&) {}
    virtual void bridgeDidRequestCopy(ReaderBridge&, const CopyTextPayload&) {}
    virtual void bridgeDidRequestOpenLink(ReaderBridge&, const OpenLinkPayload&) {}
    virtual void bridgeDidRestoreAnchor(ReaderBridge&, const AnchorRestoredPayload&) {}
};

}  // namespace larkspin
