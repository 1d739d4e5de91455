// Any text handed to the envelope decoder either decodes or is refused with a
// CodingError; it never crashes. What decodes encodes again and decodes to the
// same envelope, and so does the payload of each message type.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Protocol/Payloads/AccessibilityAppliedPayload.hpp"
#include "Protocol/Payloads/ActiveHeadingPayload.hpp"
#include "Protocol/Payloads/AnchorPayload.hpp"
#include "Protocol/Payloads/AnchorRestoredPayload.hpp"
#include "Protocol/Payloads/BackgroundAppliedPayload.hpp"
#include "Protocol/Envelope/BridgeEnvelope.hpp"
#include "Protocol/Payloads/BridgeErrorPayload.hpp"
#include "Protocol/Payloads/CapabilitiesPayload.hpp"
#include "Protocol/Payloads/CopyTextPayload.hpp"
#include "Protocol/Payloads/DiagramAppliedPayload.hpp"
#include "Protocol/Payloads/DiagramRequestPayload.hpp"
#include "Protocol/Payloads/DiagramResultPayload.hpp"
#include "Protocol/Payloads/DiagramsProgressPayload.hpp"
#include "Protocol/Payloads/FindPayload.hpp"
#include "Protocol/Payloads/FindResultPayload.hpp"
#include "Protocol/Payloads/LayoutReportPayload.hpp"
#include "Protocol/Payloads/OpenLinkPayload.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"
#include "Protocol/Payloads/ScrolledPayload.hpp"
#include "Protocol/Payloads/ThemeAppliedPayload.hpp"
#include "Protocol/Payloads/ViewportInsetsAppliedPayload.hpp"
#include "Protocol/Payloads/ViewportInsetsPayload.hpp"

using namespace larkspin;

namespace {

template <typename T>
void checkPayload(const BridgeEnvelope& envelope) {
    T payload;
    try {
        payload = envelope.decodePayload<T>();
    } catch (const CodingError&) {
        return;
    }
    const JSONValue encoded = PayloadCodec::encode(payload);
    const JSONValue again = JSONValue::parse(encoded.serialized());
    if (!(PayloadCodec::encode(PayloadCodec::decode<T>(again)) == encoded)) std::abort();
}

void checkPayloadOf(const BridgeEnvelope& envelope) {
    const auto type = envelope.messageType();
    if (!type) return;
    using M = BridgeMessageType;
    switch (*type) {
        case M::rendered:
            checkPayload<RenderedPayload>(envelope);
            break;
        case M::capabilities:
            checkPayload<CapabilitiesPayload>(envelope);
            break;
        case M::error:
            checkPayload<BridgeErrorPayload>(envelope);
            break;
        case M::backgroundApplied:
            checkPayload<BackgroundAppliedPayload>(envelope);
            break;
        case M::themeApplied:
            checkPayload<ThemeAppliedPayload>(envelope);
            break;
        case M::scrolled:
            checkPayload<ScrolledPayload>(envelope);
            break;
        case M::activeHeading:
            checkPayload<ActiveHeadingPayload>(envelope);
            break;
        case M::layoutReport:
            checkPayload<LayoutReportPayload>(envelope);
            break;
        case M::diagramsProgress:
            checkPayload<DiagramsProgressPayload>(envelope);
            break;
        case M::diagramRequest:
            checkPayload<DiagramRequestPayload>(envelope);
            break;
        case M::diagramResult:
            checkPayload<DiagramResultPayload>(envelope);
            break;
        case M::diagramApplied:
            checkPayload<DiagramAppliedPayload>(envelope);
            break;
        case M::copyText:
            checkPayload<CopyTextPayload>(envelope);
            break;
        case M::openLink:
            checkPayload<OpenLinkPayload>(envelope);
            break;
        case M::find:
            checkPayload<FindPayload>(envelope);
            break;
        case M::findResult:
            checkPayload<FindResultPayload>(envelope);
            break;
        case M::setViewportInsets:
            checkPayload<ViewportInsetsPayload>(envelope);
            break;
        case M::viewportInsetsApplied:
            checkPayload<ViewportInsetsAppliedPayload>(envelope);
            break;
        case M::anchor:
            checkPayload<AnchorPayload>(envelope);
            break;
        case M::anchorRestored:
            checkPayload<AnchorRestoredPayload>(envelope);
            break;
        case M::accessibilityApplied:
            checkPayload<AccessibilityAppliedPayload>(envelope);
            break;
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    BridgeEnvelope envelope;
    try {
        envelope = BridgeEnvelope::decode(text);
    } catch (const CodingError&) {
        return 0;
    }
    // A decoded envelope always encodes (an escaping CodingError is a finding).
    if (!(BridgeEnvelope::decode(envelope.jsonText()) == envelope)) std::abort();
    checkPayloadOf(envelope);
    return 0;
}
