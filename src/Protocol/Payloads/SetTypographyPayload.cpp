#include "Protocol/Payloads/SetTypographyPayload.hpp"

namespace larkspin {

SetTypographyPayload SetTypographyPayload::from(const TypographySettings& settings) {
    SetTypographyPayload payload;
    payload.fontSizePx = settings.fontSizePx;
    payload.widthPreset = settings.widthPreset;
    payload.lineHeightPreset = settings.lineHeightPreset;
    payload.bodyFamily = settings.bodyFamily;
    payload.monoFamily = settings.monoFamily;
    payload.headingFamily = settings.headingFamily;
    payload.fontWeight = settings.fontWeight;
    payload.wideBlocks = settings.wideBlocks;
    return payload;
}

}  // namespace larkspin
