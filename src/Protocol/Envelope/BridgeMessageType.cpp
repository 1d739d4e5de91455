#include "Protocol/Envelope/BridgeMessageType.hpp"

namespace larkspin {

static_assert(RawValueTable<BridgeMessageType>::entries.size() == 36);
static_assert([] {
    const auto& entries = RawValueTable<BridgeMessageType>::entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (static_cast<std::size_t>(entries[i].first) != i) return false;
    }
    return true;
}());

bool isPageEvent(BridgeMessageType type) {
    using T = BridgeMessageType;
    switch (type) {
        case T::ready:
        case T::error:
        case T::activeHeading:
        case T::layoutReport:
        case T::diagramsProgress:
        case T::diagramRequest:
        case T::copyText:
        case T::openLink:
        case T::anchorRestored:
            return true;
        default:
            return false;
    }
}

std::optional<BridgeMessageType> expectedReply(BridgeMessageType request) {
    using T = BridgeMessageType;
    switch (request) {
        case T::render:
            return T::rendered;
        case T::probe:
            return T::capabilities;
        case T::setBackground:
            return T::backgroundApplied;
        case T::setTheme:
            return T::themeApplied;
        case T::scrollToHeading:
            return T::scrolled;
        case T::setTypography:
            return T::typographyApplied;
        case T::diagramResult:
            return T::diagramApplied;
        case T::find:
            return T::findResult;
        case T::clearFind:
            return T::findResult;
        case T::setViewportInsets:
            return T::viewportInsetsApplied;
        case T::captureAnchor:
            return T::anchor;
        case T::setAccessibility:
            return T::accessibilityApplied;
        default:
            return std::nullopt;
    }
}

}  // namespace larkspin
