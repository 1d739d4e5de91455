#pragma once

#include "Protocol/Payloads/ActiveHeadingPayload.hpp"
#include "Protocol/Payloads/AnchorRestoredPayload.hpp"
#include "Protocol/Payloads/BridgeErrorPayload.hpp"
#include "Protocol/Payloads/CopyTextPayload.hpp"
#include "Protocol/Payloads/DiagramRequestPayload.hpp"
#include "Protocol/Payloads/DiagramsProgressPayload.hpp"
#include "Protocol/Payloads/LayoutReportPayload.hpp"
#include "Protocol/Payloads/OpenLinkPayload.hpp"

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
