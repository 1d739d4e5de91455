#include "Protocol/Navigation/ParsedURL.hpp"

#include <algorithm>

#include "Platform/Text/Utf8.hpp"

namespace larkspin {

namespace {

bool isAlpha(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isHex(unsigned char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// unreserved, sub-delims, or a byte of a non-ASCII character.
bool isPlain(unsigned char c) {
    if (isAlpha(c) || isDigit(c) || c >= 0x80) return true;
    switch (c) {
        case '-':
        case '.':
        case '_':
        case '~':  // unreserved
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':  // sub-delims
        case '*':
        case '+':
        case ',':
        case ';':
        case '=':
            return true;
        default:
            return false;
    }
}

bool startsEscape(std::string_view text, std::size_t i) {
    return text[i] == '%' && i + 2 < text.size() &&
           isHex(static_cast<unsigned char>(text[i + 1])) &&
           isHex(static_cast<unsigned char>(text[i + 2]));
}

// Every character is plain, one of `extra`, or the start of a valid escape.
bool consistsOf(std::string_view text, std::string_view extra) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (!startsEscape(text, i)) return false;
            i += 2;
        } else if (!isPlain(c) && extra.find(static_cast<char>(c)) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// Whether the byte at i of a path, query or fragment stays as written when
// a link destination is encoded.
bool keepsAsWritten(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '%') return startsEscape(text, i);
    return isPlain(c) ||
           std::string_view(":/?#@").find(static_cast<char>(c)) != std::string_view::npos;
}

bool isScheme(std::string_view text) {
    if (text.empty() || !isAlpha(static_cast<unsigned char>(text[0]))) return false;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

bool parseAuthority(std::string_view authority, ParsedURL& url) {
    const auto at = authority.find('@');
    if (at != std::string_view::npos) {
        const auto info = authority.substr(0, at);
        if (!consistsOf(info, ":")) return false;
        url.userInfo = std::string(info);
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return false;
        const auto literal = authority.substr(1, close - 1);
        if (literal.empty() || !consistsOf(literal, ":")) return false;
        host = authority.substr(0, close + 1);
        authority.remove_prefix(close + 1);
        if (!authority.empty()) {
            if (authority.front() != ':') return false;
            url.port = std::string(authority.substr(1));
        }
    } else {
        const auto colon = authority.find(':');
        if (colon != std::string_view::npos) {
            host = authority.substr(0, colon);
            url.port = std::string(authority.substr(colon + 1));
        }
        if (!consistsOf(host, "")) return false;
    }
    if (url.port) {
        for (const char c : *url.port) {
            if (!isDigit(static_cast<unsigned char>(c))) return false;
        }
    }
    url.host = std::string(host);
    return true;
}

}  // namespace

std::optional<std::string_view> leadingScheme(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto scheme = text.substr(0, colon);
    if (!isScheme(scheme)) return std::nullopt;
    return scheme;
}

std::string encodedLinkDestination(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // The scheme and the authority are kept as written.
    if (const auto scheme = leadingScheme(text)) {
        out.append(text.substr(0, scheme->size() + 1));
        text.remove_prefix(scheme->size() + 1);
    }
    if (text.starts_with("//")) {
        const auto end = std::min(text.find_first_of("/?#", 2), text.size());
        out.append(text.substr(0, end));
        text.remove_prefix(end);
    }
    static constexpr char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (keepsAsWritten(text, i)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0xF]);
        }
    }
    return out;
}

std::optional<ParsedURL> ParsedURL::parse(std::string_view text) {
    if (!utf8::isValid(text)) return std::nullopt;
    ParsedURL url;

    const auto hash = text.find('#');
    if (hash != std::string_view::npos) {
        const auto fragment = text.substr(hash + 1);
        if (!consistsOf(fragment, ":@/?")) return std::nullopt;
        url.fragment = std::string(fragment);
        text = text.substr(0, hash);
    }
    const auto question = text.find('?');
    if (question != std::string_view::npos) {
        const auto query = text.substr(question + 1);
        if (!consistsOf(query, ":@/?")) return std::nullopt;
        url.query = std::string(query);
        text = text.substr(0, question);
    }

    const auto colon = text.find(':');
    const auto slash = text.find('/');
    if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
        // A colon in the first segment is a scheme, or the reference is invalid.
        const auto scheme = text.substr(0, colon);
        if (!isScheme(scheme)) return std::nullopt;
        url.scheme = std::string(scheme);
        text.remove_prefix(colon + 1);
    }

    if (text.starts_with("//")) {
        text.remove_prefix(2);
        const auto end = text.find('/');
        if (!parseAuthority(text.substr(0, end), url)) return std::nullopt;
        text = end == std::string_view::npos ? std::string_view() : text.substr(end);
    }
    if (!consistsOf(text, ":@/")) return std::nullopt;
    url.path = std::string(text);
    return url;
}

}  // namespace larkspin
