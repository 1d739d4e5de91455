#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "Platform/Json/RawValue.hpp"

namespace larkspin {

// The 36 message names of the renderer protocol, in protocol order; each raw
// value equals the case name.
enum class BridgeMessageType {
    render,
    rendered,
    probe,
    capabilities,
    ready,
    error,
    setFonts,      // declared only: never sent, never accepted
    fontsApplied,  // declared only
    setBackground,
    backgroundApplied,
    setTheme,
    themeApplied,
    scrollToHeading,
    scrolled,
    activeHeading,
    setTypography,
    typographyApplied,
    layoutReport,
    diagramsProgress,
    diagramRequest,
    diagramResult,
    diagramApplied,
    copyText,
    openLink,
    find,
    findResult,
    clearFind,
    setViewportInsets,
    viewportInsetsApplied,
    captureAnchor,
    anchor,
    anchorRestored,
    scrollToSource,    // declared only: travels inside "render"
    scrolledToSource,  // declared only: travels inside "rendered"
    setAccessibility,
    accessibilityApplied,
};

template <>
struct RawValueTable<BridgeMessageType> {
    using T = BridgeMessageType;
    static constexpr auto entries = std::to_array<std::pair<T, std::string_view>>({
        {T::render, "render"},
        {T::rendered, "rendered"},
        {T::probe, "probe"},
        {T::capabilities, "capabilities"},
        {T::ready, "ready"},
        {T::error, "error"},
        {T::setFonts, "setFonts"},
        {T::fontsApplied, "fontsApplied"},
        {T::setBackground, "setBackground"},
        {T::backgroundApplied, "backgroundApplied"},
        {T::setTheme, "setTheme"},
        {T::themeApplied, "themeApplied"},
        {T::scrollToHeading, "scrollToHeading"},
        {T::scrolled, "scrolled"},
        {T::activeHeading, "activeHeading"},
        {T::setTypography, "setTypography"},
        {T::typographyApplied, "typographyApplied"},
        {T::layoutReport, "layoutReport"},
        {T::diagramsProgress, "diagramsProgress"},
        {T::diagramRequest, "diagramRequest"},
        {T::diagramResult, "diagramResult"},
        {T::diagramApplied, "diagramApplied"},
        {T::copyText, "copyText"},
        {T::openLink, "openLink"},
        {T::find, "find"},
        {T::findResult, "findResult"},
        {T::clearFind, "clearFind"},
        {T::setViewportInsets, "setViewportInsets"},
        {T::viewportInsetsApplied, "viewportInsetsApplied"},
        {T::captureAnchor, "captureAnchor"},
        {T::anchor, "anchor"},
        {T::anchorRestored, "anchorRestored"},
        {T::scrollToSource, "scrollToSource"},
        {T::scrolledToSource, "scrolledToSource"},
        {T::setAccessibility, "setAccessibility"},
        {T::accessibilityApplied, "accessibilityApplied"},
    });
};

// The nine types the page may send on its own: ready, error, activeHeading,
// layoutReport, diagramsProgress, diagramRequest, copyText, openLink,
// anchorRestored.
bool isPageEvent(BridgeMessageType type);

// For the twelve requests of the reader, the reply type it expects (an
// "error" reply is the failure of any of them); none for every other type.
std::optional<BridgeMessageType> expectedReply(BridgeMessageType request);

}  // namespace larkspin
