#include "Updates/UpdateFeed.hpp"

#include <glib.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <mutex>

#include "Updates/Version.hpp"

namespace larkspin::UpdateFeed {

namespace {

std::string trimmed(std::string text) {
    const auto space = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && space(static_cast<unsigned char>(text.back()))) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && space(static_cast<unsigned char>(text[start]))) ++start;
    return text.substr(start);
}

bool named(const xmlNode* node, const char* localName, std::string_view nsURI) {
    if (node->type != XML_ELEMENT_NODE || std::strcmp(reinterpret_cast<const char*>(node->name), localName) != 0) {
        return false;
    }
    if (nsURI.empty()) return node->ns == nullptr || node->ns->href == nullptr;
    return node->ns && node->ns->href &&
           std::string_view(reinterpret_cast<const char*>(node->ns->href)) == nsURI;
}

std::string textOf(const xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return trimmed(std::move(text));
}

const xmlNode* child(const xmlNode* parent, const char* localName, std::string_view nsURI) {
    for (const xmlNode* node = parent->children; node; node = node->next) {
        if (named(node, localName, nsURI)) return node;
    }
    return nullptr;
}

std::string childText(const xmlNode* parent, const char* localName) {
    const xmlNode* node = child(parent, localName, namespaceURI);
    return node ? textOf(node) : std::string();
}

// An address the browser may be sent to: https with a host.
bool isSecureLink(const std::string& link) {
    GUri* uri = g_uri_parse(link.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri) return false;
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    const bool secure = scheme && g_ascii_strcasecmp(scheme, "https") == 0 && host && *host;
    g_uri_unref(uri);
    return secure;
}

// Called when the parser meets <!DOCTYPE …>, before the declarations inside
// it are read: the feed never needs one, so the parse stops there.
void refuseDocumentType(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    *static_cast<bool*>(parser->_private) = true;
    xmlStopParser(parser);
}

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

}  // namespace

std::string urlString(std::string_view base, std::int64_t major) {
    return std::string(base) + "/appcast-v" + std::to_string(std::max<std::int64_t>(major, 1)) +
           ".xml";
}

std::int64_t majorVersion(std::string_view shortVersion) {
    std::string_view text = shortVersion;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    // The leading run of numeric characters, whatever their script.
    std::size_t end = 0;
    bool asciiOnly = true;
    while (end < text.size()) {
        const char* at = text.data() + end;
        const gunichar c = g_utf8_get_char_validated(at, static_cast<gssize>(text.size() - end));
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) break;
        const GUnicodeType type = g_unichar_type(c);
        if (type != G_UNICODE_DECIMAL_NUMBER && type != G_UNICODE_LETTER_NUMBER &&
            type != G_UNICODE_OTHER_NUMBER) {
            break;
        }
        if (c < '0' || c > '9') asciiOnly = false;
        end = static_cast<std::size_t>(g_utf8_next_char(at) - text.data());
    }
    if (end == 0 || !asciiOnly) return 1;
    std::int64_t value = 0;
    const auto [rest, error] = std::from_chars(text.data(), text.data() + end, value);
    if (error != std::errc{} || rest != text.data() + end) return 1;
    return std::max<std::int64_t>(value, 1);
}

Parsed parse(std::string_view bytes) {
    Parsed parsed;
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        parsed.error = "feed too large";
        return parsed;
    }
    initialiseOnce();
    xmlParserCtxtPtr parser = xmlCreateMemoryParserCtxt(bytes.data(), static_cast<int>(bytes.size()));
    if (!parser) {
        parsed.error = "malformed XML";
        return parsed;
    }
    bool documentTypeSeen = false;
    parser->_private = &documentTypeSeen;
    parser->sax->internalSubset = refuseDocumentType;
    // No entity substitution, no DTD loading, no network: only the options below.
    xmlCtxtUseOptions(parser, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlParseDocument(parser);
    xmlDocPtr document = parser->myDoc;
    parser->myDoc = nullptr;
    const bool wellFormed = parser->wellFormed != 0;
    xmlFreeParserCtxt(parser);

    if (documentTypeSeen) {
        parsed.error = "document type declaration refused";
    } else if (!wellFormed || !document) {
        parsed.error = "malformed XML";
    }
    const xmlNode* root = document && parsed.error.empty() ? xmlDocGetRootElement(document) : nullptr;
    const xmlNode* channel = root && named(root, "rss", "") ? child(root, "channel", "") : nullptr;
    if (parsed.error.empty() && !channel) parsed.error = "not an RSS feed";
    if (channel) {
        for (const xmlNode* node = channel->children; node; node = node->next) {
            if (!named(node, "item", "")) continue;
            FeedItem item;
            item.version = childText(node, "version");
            item.displayVersion = childText(node, "displayVersion");
            if (item.displayVersion.empty()) item.displayVersion = item.version;
            item.releaseNotesLink = childText(node, "releaseNotesLink");
            if (!isSecureLink(item.releaseNotesLink)) item.releaseNotesLink.clear();
            item.downloadLink = childText(node, "downloadLink");
            item.os = childText(node, "os");
            item.arch = childText(node, "arch");
            if (item.version.empty() || !isSecureLink(item.downloadLink)) {
                ++parsed.skipped;
                continue;
            }
            parsed.items.push_back(std::move(item));
        }
    }
    if (document) xmlFreeDoc(document);
    return parsed;
}

std::optional<FeedItem> newestApplicable(const std::vector<FeedItem>& items,
                                         std::string_view current, std::string_view skipped,
                                         std::string_view os, std::string_view arch) {
    std::optional<FeedItem> newest;
    for (const auto& item : items) {
        if (!item.os.empty() && item.os != os) continue;
        if (!item.arch.empty() && item.arch != arch) continue;
        if (Version::compare(item.version, current) <= 0) continue;
        if (!skipped.empty() && Version::compare(item.version, skipped) == 0) continue;
        if (!newest || Version::compare(item.version, newest->version) > 0) newest = item;
    }
    return newest;
}

std::string_view currentOS() { return "linux"; }

std::string_view currentArch() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "aarch64";
#elif defined(__i386__)
    return "i386";
#elif defined(__arm__)
    return "armhf";
#elif defined(__riscv) && __riscv_xlen == 64
    return "riscv64";
#else
    return "unknown";
#endif
}

}  // namespace larkspin::UpdateFeed
