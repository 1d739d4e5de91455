#include "Protocol/Payloads/RendererLanguage.hpp"

#include <glib.h>

#include <algorithm>
#include <optional>
#include <string_view>

#include "Platform/Text/TextTrimming.hpp"

namespace larkspin::RendererLanguage {

namespace {

// The shipped localisation for one locale name ("language[_territory][.codeset][@modifier]",
// or a BCP 47 tag such as "zh-Hans"), if we have one.
std::optional<std::string> shippedLocalization(std::string_view name) {
    std::string locale = asciiLowercased(name.substr(0, name.find_first_of(".@")));
    std::replace(locale.begin(), locale.end(), '-', '_');
    const auto separator = locale.find('_');
    const std::string_view language = std::string_view(locale).substr(0, separator);
    const std::string_view rest = separator == std::string::npos
                                      ? std::string_view()
                                      : std::string_view(locale).substr(separator + 1);
    if (language == "en") return "en";
    if (language == "zh") {
        // Simplified Chinese: the script Hans, or mainland China and Singapore.
        // Traditional (Hant, Taiwan, Hong Kong, Macau) is not shipped.
        if (rest.empty() || rest == "cn" || rest == "sg" || rest.starts_with("hans")) {
            return "zh-Hans";
        }
    }
    return std::nullopt;
}

}  // namespace

std::string resolve(std::span<const std::string> preferredLocalizations) {
    if (preferredLocalizations.empty()) return "zh-Hans";
    const std::string first = asciiLowercased(preferredLocalizations.front());
    if (first == "en" || first.starts_with("en-") || first.starts_with("en_")) return "en";
    return "zh-Hans";
}

std::vector<std::string> preferredLocalizations(std::span<const std::string> languageNames) {
    std::vector<std::string> result;
    for (const auto& name : languageNames) {
        const auto shipped = shippedLocalization(name);
        if (shipped && std::find(result.begin(), result.end(), *shipped) == result.end()) {
            result.push_back(*shipped);
        }
    }
    return result;
}

std::vector<std::string> preferredLocalizations() {
    std::vector<std::string> names;
    for (const gchar* const* name = g_get_language_names(); name && *name; ++name) {
        names.emplace_back(*name);
    }
    return preferredLocalizations(names);
}

}  // namespace larkspin::RendererLanguage
