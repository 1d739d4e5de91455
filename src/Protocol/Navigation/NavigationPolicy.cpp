#include "Protocol/Navigation/NavigationPolicy.hpp"

#include <algorithm>
#include <span>
#include <vector>

#include "Platform/Localization.hpp"
#include "Protocol/Navigation/ParsedURL.hpp"
#include "Protocol/Navigation/PercentDecoding.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin::NavigationPolicy {

namespace {

// White space and line breaks beyond ASCII, as UTF-8: U+0085, U+00A0, U+1680,
// U+2000–U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
constexpr std::string_view kWideSpaces[] = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
    "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
    "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8",
    "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

bool isASCIISpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::size_t leadingSpaceLength(std::string_view text) {
    if (text.empty()) return 0;
    if (isASCIISpace(text.front())) return 1;
    for (const auto space : kWideSpaces) {
        if (text.starts_with(space)) return space.size();
    }
    return 0;
}

std::size_t trailingSpaceLength(std::string_view text) {
    if (text.empty()) return 0;
    if (isASCIISpace(text.back())) return 1;
    for (const auto space : kWideSpaces) {
        if (text.ends_with(space)) return space.size();
    }
    return 0;
}

// Without white space and line breaks at either end.
std::string_view trimmed(std::string_view text) {
    while (const auto n = leadingSpaceLength(text)) text.remove_prefix(n);
    while (const auto n = trailingSpaceLength(text)) text.remove_suffix(n);
    return text;
}

bool isMember(std::string_view candidate, std::span<const std::string_view> set) {
    return std::find(set.begin(), set.end(), candidate) != set.end();
}

bool isUnsafePath(std::string_view path) {
    return path.find('\0') != std::string_view::npos || path.find('\\') != std::string_view::npos;
}

// Lexically normal ("." and ".." resolved, separators collapsed) and without a
// trailing separator, except for the root itself.
std::filesystem::path standardized(const std::filesystem::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

LinkAction localFile(const std::filesystem::path& file, std::optional<std::string> fragment) {
    std::string extension = asciiLowercased(file.extension().string());
    if (!extension.empty()) extension.erase(0, 1);  // the dot
    if (isMember(extension, markdownExtensions)) {
        return LinkAction::openMarkdown(file, std::move(fragment));
    }
    // Another kind of local file: the link opener asks before opening it with
    // its default application, and refuses outright to run executables and
    // desktop launchers (.desktop files).
    return LinkAction::confirmOpenOther(file);
}

LinkAction invalid() {
    return LinkAction::reject(Rejection::invalidURL());
}

LinkAction unsupported(std::string_view scheme) {
    return LinkAction::reject(Rejection::unsupportedScheme(asciiLowercased(scheme)));
}

// Links are written as Markdown destinations, which may hold characters a URL
// cannot ("[", "|", a space): they are percent-encoded before parsing, and
// the desktop is handed the encoded address.
LinkAction resolveExternal(std::string_view href) {
    const std::string_view text = trimmed(href);
    const auto named = leadingScheme(text);
    if (!named) return invalid();
    const std::string scheme = asciiLowercased(*named);
    if (!isMember(scheme, externalSchemes)) return unsupported(scheme);
    std::string encoded = encodedLinkDestination(text);
    const auto url = ParsedURL::parse(encoded);
    if (!url) return invalid();
    if (scheme != "mailto" && (!url->host || url->host->empty())) return invalid();
    return LinkAction::openExternal(std::move(encoded));
}

LinkAction resolveFragment(std::string_view href) {
    auto id = fragmentID(href);
    if (!id || id->empty()) return LinkAction::reject(Rejection::emptyFragment());
    return LinkAction::scrollToFragment(std::move(*id));
}

LinkAction resolveFile(std::string_view href) {
    const std::string_view text = trimmed(href);
    auto fragment = fragmentID(text);
    const std::string_view body = text.substr(0, text.find('#'));

    std::string pathText;
    if (asciiLowercased(body.substr(0, 5)) == "file:") {
        const auto url = ParsedURL::parse(encodedLinkDestination(body));
        if (!url || !url->scheme || asciiLowercased(*url->scheme) != "file") return invalid();
        if (url->userInfo || url->port) return invalid();
        if (url->host && !url->host->empty()) {
            const auto host = percentDecoded(*url->host);
            if (!host || asciiLowercased(*host) != "localhost") return invalid();
        }
        auto decodedPath = percentDecoded(url->path);
        if (!decodedPath) return invalid();
        pathText = std::move(*decodedPath);  // decoded once more below
    } else {
        pathText = std::string(body.substr(0, body.find('?')));
    }

    const auto decoded = percentDecoded(pathText);
    if (!decoded || !decoded->starts_with('/') || isUnsafePath(*decoded)) return invalid();
    return localFile(standardized(*decoded), std::move(fragment));
}

LinkAction resolveRelative(std::string_view href,
                           const std::optional<std::filesystem::path>& documentPath) {
    const std::string_view text = trimmed(href);
    // The page calls a link relative when it names no scheme; one that does
    // is resolved as what it names.
    if (const auto scheme = leadingScheme(text)) {
        return asciiLowercased(*scheme) == "file" ? resolveFile(text) : resolveExternal(text);
    }
    auto fragment = fragmentID(text);
    std::string_view body = text.substr(0, text.find('#'));
    body = body.substr(0, body.find('?'));

    const auto decoded = percentDecoded(body);
    if (!decoded) return invalid();
    if (decoded->empty()) {
        if (fragment && !fragment->empty())
            return LinkAction::scrollToFragment(std::move(*fragment));
        return invalid();
    }
    if (isUnsafePath(*decoded)) return invalid();
    if (decoded->starts_with('/')) return localFile(standardized(*decoded), std::move(fragment));

    // A path that decodes to an address ("https%3A//…") is not opened as one.
    if (const auto scheme = leadingScheme(*decoded)) return unsupported(*scheme);

    std::vector<std::string_view> pieces;
    std::string_view rest = *decoded;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const auto piece = rest.substr(0, slash);
        if (!piece.empty() && piece != ".") pieces.push_back(piece);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    if (pieces.empty()) return invalid();

    if (!documentPath || !documentPath->is_absolute()) {
        return LinkAction::reject(Rejection::noDocumentDirectory());
    }
    // Links may climb out of the document's folder: ".." is resolved freely.
    std::filesystem::path target = standardized(*documentPath).parent_path();
    for (const auto piece : pieces) target /= piece;
    return localFile(standardized(target), std::move(fragment));
}

}  // namespace

std::string Rejection::description() const {
    switch (kind) {
        case Kind::unsupportedScheme:
            return L10n::format("link.reject.unsupported_scheme", {scheme});
        case Kind::invalidURL:
            return L10n::text("link.reject.invalid_url");
        case Kind::noDocumentDirectory:
            return L10n::text("link.reject.no_directory");
        case Kind::emptyFragment:
            return L10n::text("link.reject.empty_fragment");
    }
    return {};
}

LinkAction LinkAction::openExternal(std::string url) {
    LinkAction action;
    action.kind = Kind::openExternal;
    action.url = std::move(url);
    return action;
}

LinkAction LinkAction::openMarkdown(std::filesystem::path file,
                                    std::optional<std::string> fragment) {
    LinkAction action;
    action.kind = Kind::openMarkdown;
    action.file = std::move(file);
    if (fragment && !fragment->empty()) action.fragment = std::move(fragment);
    return action;
}

LinkAction LinkAction::scrollToFragment(std::string id) {
    LinkAction action;
    action.kind = Kind::scrollToFragment;
    action.fragment = std::move(id);
    return action;
}

LinkAction LinkAction::confirmOpenOther(std::filesystem::path file) {
    LinkAction action;
    action.kind = Kind::confirmOpenOther;
    action.file = std::move(file);
    return action;
}

LinkAction LinkAction::reject(Rejection rejection) {
    LinkAction action;
    action.kind = Kind::reject;
    action.rejection = std::move(rejection);
    return action;
}

LinkAction resolve(const OpenLinkPayload& link,
                   const std::optional<std::filesystem::path>& documentPath) {
    switch (link.kind) {
        case OpenLinkPayload::Kind::external:
            return resolveExternal(link.href);
        case OpenLinkPayload::Kind::relative:
            return resolveRelative(link.href, documentPath);
        case OpenLinkPayload::Kind::fragment:
            return resolveFragment(link.href);
        case OpenLinkPayload::Kind::file:
            return resolveFile(link.href);
    }
    return invalid();
}

std::optional<std::string> fragmentID(std::string_view text) {
    const auto hash = text.find('#');
    if (hash == std::string_view::npos) return std::nullopt;
    const std::string_view raw = text.substr(hash + 1);
    if (auto decoded = percentDecoded(raw)) return decoded;
    return std::string(raw);
}

bool isEntryPage(std::string_view text) {
    const auto url = ParsedURL::parse(text);
    if (!url || !url->scheme || asciiLowercased(*url->scheme) != "app-resource") return false;
    if (!url->host || url->userInfo || url->port || url->query || url->fragment) return false;
    const auto host = percentDecoded(*url->host);
    if (!host || asciiLowercased(*host) != "renderer") return false;
    const auto path = percentDecoded(url->path);
    return path && *path == "/index.html";
}

NavigationDecision decideNavigation(const std::optional<std::string>& url, bool isMainFrame,
                                    bool hasTargetFrame, NavigationType navigationType) {
    if (!url || url->empty()) return NavigationDecision::cancel("没有 URL");
    if (!hasTargetFrame) return NavigationDecision::cancel("新窗口 / target=_blank");
    if (!isMainFrame) return NavigationDecision::cancel("子框架");
    const int raw = static_cast<int>(navigationType);
    switch (navigationType) {
        case NavigationType::linkActivated:
        case NavigationType::formSubmitted:
        case NavigationType::backForward:
        case NavigationType::formResubmitted:
            return NavigationDecision::cancel("导航类型 " + std::to_string(raw));
        case NavigationType::other:
        case NavigationType::reload:
            if (isEntryPage(*url)) return NavigationDecision::allow();
            return NavigationDecision::cancel("不是入口页：" + *url);
    }
    return NavigationDecision::cancel("未知导航类型 " + std::to_string(raw));
}

}  // namespace larkspin::NavigationPolicy
