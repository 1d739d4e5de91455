#pragma once

#include "Protocol/ActiveHeadingPayload.hpp"
#include "Protocol/AnchorRestoredPayload.hpp"
#include "Protocol/BridgeErrorPayload.hpp"
#include "Protocol/CopyTextPayload.hpp"
#include "Protocol/DiagramRequestPayload.hpp"
#include "Protocol/DiagramsProgressPayload.hpp"
#include "Protocol/LayoutReportPayload.hpp"
#include "Protocol/OpenLinkPayload.hpp"

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
