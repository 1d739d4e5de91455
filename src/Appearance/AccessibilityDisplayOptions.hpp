#pragma once

#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "Appearance/Theme.hpp"

namespace larkspin {

class UserDefaults;
class AccessibilityDisplaySource;

// The desktop's display preferences that change how the reader looks, or the
// launch override that replaces them.
struct AccessibilityDisplayOptions {
    static constexpr std::string_view overrideDefaultsKey = "MDA11yOverride";
    static constexpr std::string_view overrideEnvironmentVariable = "MD_A11Y_OVERRIDE";
    static constexpr std::string_view backgroundStyleProperty = "--md-background-style";

    bool reduceMotion = false;
    bool reduceTransparency = false;
    bool increaseContrast = false;

    static const AccessibilityDisplayOptions none;

    bool prefersSolidBackground() const { return reduceTransparency || increaseContrast; }

    // Reads an environment variable; nothing when it is not set.
    using Environment = std::function<std::optional<std::string>(std::string_view name)>;
    static Environment processEnvironment();

    // The options in force: the launch override when there is one (looked up
    // afresh on every call), otherwise what the desktop says.
    static AccessibilityDisplayOptions current(const AccessibilityDisplaySource& desktop,
                                               const UserDefaults& defaults,
                                               const Environment& environment);

    // The override: the text stored under "MDA11yOverride" when the key holds
    // one (even an empty one), else "MD_A11Y_OVERRIDE" from the environment,
    // else nothing.
    static std::optional<AccessibilityDisplayOptions> launchOverride(
        const UserDefaults& defaults, const Environment& environment);

    // Pieces split on "," and " " and compared lower-cased with the flags'
    // tokens ("reducemotion", "reduce-motion", "motion", …); other pieces are
    // ignored. Never absent: a text without a known token gives all-false.
    static AccessibilityDisplayOptions parseOverride(std::string_view text);

    // The theme's custom properties, with "--md-background-style": "solid"
    // added when a solid background is preferred and none is there yet.
    CSSVariables mergingThemeTokens(CSSVariables tokens) const;

    // The page's form: {"reduceMotion", "reduceTransparency", "increaseContrast"}
    // as JSON booleans, in that order. Decoding needs all three as booleans.
    nlohmann::ordered_json toJSON() const;
    static std::optional<AccessibilityDisplayOptions> fromJSON(const nlohmann::json& json);

    bool operator==(const AccessibilityDisplayOptions&) const = default;
};

}  // namespace larkspin
