#include "Protocol/Schemes/ResourceURL.hpp"

#include <glib.h>

#include "Protocol/Navigation/PercentDecoding.hpp"

namespace larkspin {

namespace {

// A GLib string, freed when it goes.
struct OwnedText {
    gchar* text = nullptr;
    ~OwnedText() { g_free(text); }
    std::optional<std::string> value() const {
        return text ? std::optional<std::string>(text) : std::nullopt;
    }
};

}  // namespace

std::optional<ResourceURL> ResourceURL::parse(std::string_view text) {
    // GLib's splitter, relaxed as WebKit's parser is, every part kept
    // percent-encoded; a text with a NUL is no URL.
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string terminated(text);
    OwnedText scheme, host, path, query, fragment;
    if (!g_uri_split(terminated.c_str(),
                     GUriFlags(G_URI_FLAGS_ENCODED | G_URI_FLAGS_PARSE_RELAXED |
                               G_URI_FLAGS_NON_DNS),
                     &scheme.text, nullptr, &host.text, nullptr, &path.text, &query.text,
                     &fragment.text, nullptr) ||
        scheme.text == nullptr) {
        return std::nullopt;
    }
    ResourceURL url;
    url.scheme = scheme.text;
    url.host = host.value();
    url.path = path.text ? path.text : "";
    url.query = query.value();
    url.fragment = fragment.value();
    return url;
}

std::optional<std::string> ResourceURL::firstQueryValue(std::string_view name) const {
    if (!query) return std::nullopt;
    std::string_view items = *query;
    while (true) {
        const auto amp = items.find('&');
        const std::string_view item = items.substr(0, amp);
        const auto equals = item.find('=');
        const auto itemName = percentDecoded(item.substr(0, equals));
        if (itemName && *itemName == name) {
            if (equals == std::string_view::npos) return std::nullopt;
            return percentDecoded(item.substr(equals + 1));
        }
        if (amp == std::string_view::npos) return std::nullopt;
        items.remove_prefix(amp + 1);
    }
}

}  // namespace larkspin
