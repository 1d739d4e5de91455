#include "Protocol/Schemes/ResourceURL.hpp"

#include "Protocol/Navigation/PercentDecoding.hpp"

namespace larkspin {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "user@host:port" → "host". A port is digits after the last ":" outside an
// IPv6 literal.
std::string hostOf(std::string_view authority) {
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    const auto colon = authority.rfind(':');
    const auto bracket = authority.rfind(']');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        bool digits = true;
        for (char c : authority.substr(colon + 1)) digits = digits && isDigit(c);
        if (digits) authority = authority.substr(0, colon);
    }
    return std::string(authority);
}

}  // namespace

std::optional<ResourceURL> ResourceURL::parse(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0])) return std::nullopt;
    for (char c : text.substr(0, colon)) {
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    ResourceURL url;
    url.scheme = std::string(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 1);

    if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        url.query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const auto slash = rest.find('/');
        url.host = hostOf(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    url.path = std::string(rest);
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
