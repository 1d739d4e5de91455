#include "Appearance/AccessibilityDisplayOptions.hpp"

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "Appearance/AccessibilityDisplaySource.hpp"
#include "Platform/UserDefaults.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin {

const AccessibilityDisplayOptions AccessibilityDisplayOptions::none{};

AccessibilityDisplayOptions::Environment AccessibilityDisplayOptions::processEnvironment() {
    return [](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
}

AccessibilityDisplayOptions AccessibilityDisplayOptions::current(
    const AccessibilityDisplaySource& desktop, const UserDefaults& defaults,
    const Environment& environment) {
    if (auto forced = launchOverride(defaults, environment)) return *forced;
    return {desktop.shouldReduceMotion(), desktop.shouldReduceTransparency(),
            desktop.shouldIncreaseContrast()};
}

std::optional<AccessibilityDisplayOptions> AccessibilityDisplayOptions::launchOverride(
    const UserDefaults& defaults, const Environment& environment) {
    if (auto stored = defaults.string(overrideDefaultsKey)) return parseOverride(*stored);
    if (environment) {
        if (auto value = environment(overrideEnvironmentVariable)) return parseOverride(*value);
    }
    return std::nullopt;
}

AccessibilityDisplayOptions AccessibilityDisplayOptions::parseOverride(std::string_view text) {
    AccessibilityDisplayOptions out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find_first_of(", ", start);
        const std::string_view piece = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!piece.empty()) {
            const std::string token = asciiLowercased(piece);
            if (token == "reducemotion" || token == "reduce-motion" || token == "motion") {
                out.reduceMotion = true;
            } else if (token == "reducetransparency" || token == "reduce-transparency" ||
                       token == "transparency") {
                out.reduceTransparency = true;
            } else if (token == "increasecontrast" || token == "increase-contrast" ||
                       token == "contrast") {
                out.increaseContrast = true;
            }
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return out;
}

CSSVariables AccessibilityDisplayOptions::mergingThemeTokens(CSSVariables tokens) const {
    if (prefersSolidBackground()) {
        tokens.try_emplace(std::string(backgroundStyleProperty), "solid");
    }
    return tokens;
}

nlohmann::ordered_json AccessibilityDisplayOptions::toJSON() const {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    out["reduceMotion"] = reduceMotion;
    out["reduceTransparency"] = reduceTransparency;
    out["increaseContrast"] = increaseContrast;
    return out;
}

std::optional<AccessibilityDisplayOptions> AccessibilityDisplayOptions::fromJSON(
    const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    auto flag = [&json](const char* key) -> std::optional<bool> {
        auto it = json.find(key);
        if (it == json.end() || !it->is_boolean()) return std::nullopt;
        return it->get<bool>();
    };
    const auto motion = flag("reduceMotion");
    const auto transparency = flag("reduceTransparency");
    const auto contrast = flag("increaseContrast");
    if (!motion || !transparency || !contrast) return std::nullopt;
    return AccessibilityDisplayOptions{*motion, *transparency, *contrast};
}

}  // namespace larkspin
