#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Appearance/AccessibilityDisplayOptions.hpp"
#include "Appearance/HexColor.hpp"
#include "Appearance/Theme.hpp"
#include "Platform/Async/Task.hpp"
#include "Protocol/Payloads/AccessibilityAppliedPayload.hpp"
#include "Protocol/Payloads/BackgroundAppliedPayload.hpp"
#include "Protocol/Payloads/SetBackgroundPayload.hpp"
#include "Protocol/Payloads/SetThemePayload.hpp"
#include "Protocol/Payloads/SetTypographyPayload.hpp"
#include "Protocol/Payloads/ThemeAppliedPayload.hpp"
#include "Protocol/Payloads/TypographyAppliedPayload.hpp"
#include "Reader/Controller/CurrentPage.hpp"
#include "Reader/ReaderHost.hpp"

namespace larkspin {

// How the reader's page looks: the last theme, background, under-page
// colour, accessibility options and typography it was told, each pushed to a
// ready page and sent again when a new page says "ready". A theme or
// typography reply that comes after a newer push is stale and dropped. Its
// pushes are awaited by others, so they hold it weakly; the reader owns it
// (a shared_ptr) and outlives it. Plain C++, main thread.
class PageAppearance : public std::enable_shared_from_this<PageAppearance> {
public:
    using Weak = std::weak_ptr<PageAppearance>;

    PageAppearance(std::shared_ptr<ReaderHost> host, const CurrentPage& page);
    PageAppearance(const PageAppearance&) = delete;
    PageAppearance& operator=(const PageAppearance&) = delete;

    // The colour behind the page: the theme background's solid colour when a
    // solid background is preferred or there is no gradient, else the
    // gradient stop with the lowest position.
    static ColorComponents underPageColor(const Theme& theme,
                                          const AccessibilityDisplayOptions& accessibility);

    static Task<std::optional<ThemeAppliedPayload>> applyTheme(Weak weak, SetThemePayload theme,
                                                              SetBackgroundPayload background,
                                                              ColorComponents underPage);
    static Task<std::optional<AccessibilityAppliedPayload>> applyAccessibility(
        Weak weak, AccessibilityDisplayOptions options);
    static Task<std::optional<TypographyAppliedPayload>> applyTypography(
        Weak weak, SetTypographyPayload payload);
    // The accessibility options, then the theme with its background and
    // under-page colour; a failed accessibility push is logged and the theme
    // is still applied.
    static Task<void> applyAppearance(Weak weak, Theme theme, std::int64_t themeRevision,
                                      AccessibilityDisplayOptions accessibility);
    // What a page that just said "ready" is sent again, in this order: the
    // accessibility options, the theme, its background, the typography. Each
    // sends its request as soon as it starts, so a caller that starts them
    // one after another has them on their way back to back; the page takes
    // requests in the order they arrive. Failures are logged.
    static Task<void> resendAccessibility(Weak weak);
    static Task<void> resendTheme(Weak weak);
    static Task<void> resendBackground(Weak weak);
    static Task<void> resendTypography(Weak weak);

    const std::optional<SetThemePayload>& lastTheme() const { return lastTheme_; }
    const std::optional<SetBackgroundPayload>& lastThemeBackground() const {
        return lastThemeBackground_;
    }
    const std::optional<ColorComponents>& lastUnderPageColor() const { return lastUnderPageColor_; }
    const std::optional<AccessibilityDisplayOptions>& lastAccessibility() const {
        return lastAccessibility_;
    }
    const std::optional<SetTypographyPayload>& lastTypography() const { return lastTypography_; }
    const std::optional<TypographyAppliedPayload>& lastTypographyApplied() const {
        return lastTypographyApplied_;
    }

private:
    static Task<BackgroundAppliedPayload> setBackground(Weak weak, SetBackgroundPayload background,
                                                        std::optional<ColorComponents> underPage);
    void setUnderPage(const ColorComponents& color);
    // The page's bridge when it is ready for a push, else none.
    std::shared_ptr<ReaderBridge> readyBridge() const;

    const std::shared_ptr<ReaderHost> host_;
    const CurrentPage& page_;
    std::optional<SetThemePayload> lastTheme_;
    std::optional<SetBackgroundPayload> lastThemeBackground_;
    std::optional<ColorComponents> lastUnderPageColor_;
    std::optional<AccessibilityDisplayOptions> lastAccessibility_;
    std::optional<SetTypographyPayload> lastTypography_;
    std::optional<TypographyAppliedPayload> lastTypographyApplied_;
};

}  // namespace larkspin
