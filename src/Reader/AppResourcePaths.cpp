// The state-free parts of AppResourceSchemeHandler: the path check's first
// rules, the manifest walk and the Content-Type table. Kept apart from the
// request handling so that the fuzz target builds them alone.

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <utility>

#include "Reader/AppResourceSchemeHandler.hpp"
#include "Reader/PercentDecoding.hpp"
#include "Reader/ResourceURL.hpp"

namespace larkspin {

namespace {

std::string lowerCased(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return lower;
}

// The extension of a file name, without the dot; empty for none (also for a
// name that only begins with a dot).
std::string_view extensionOf(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

bool isHidden(const std::filesystem::path& name) {
    return name.native().starts_with('.');
}

}  // namespace

std::optional<std::string_view> AppResourceSchemeHandler::mimeType(
    std::string_view lowerCaseExtension) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 7> table{{
        {"html", "text/html; charset=utf-8"},
        {"js", "text/javascript; charset=utf-8"},
        {"css", "text/css; charset=utf-8"},
        {"json", "application/json; charset=utf-8"},
        {"png", "image/png"},
        {"svg", "image/svg+xml"},
        {"woff2", "font/woff2"},
    }};
    for (const auto& [extension, type] : table) {
        if (extension == lowerCaseExtension) return type;
    }
    return std::nullopt;
}

std::string AppResourceSchemeHandler::normalizedPath(const std::filesystem::path& path) {
    std::string text = path.native();
    while (text.size() >= 2 && text.back() == '/') text.pop_back();
    return text;
}

std::variant<std::string, AppResourceSchemeHandler::PathRejection>
AppResourceSchemeHandler::relativePath(std::string_view requestURL) {
    using Rule = PathRejection::Rule;
    const auto url = ResourceURL::parse(requestURL);
    if (!url || lowerCased(url->scheme) != scheme || !url->host || lowerCased(*url->host) != host) {
        return PathRejection{Rule::schemeOrHost, std::string(requestURL)};
    }
    const auto decoded = percentDecoded(url->path);
    if (!decoded || !decoded->starts_with('/')) {
        return PathRejection{Rule::undecodable, url->path};
    }
    const std::string_view relative = std::string_view(*decoded).substr(1);
    if (relative.empty() || relative.find("..") != std::string_view::npos ||
        relative.find("//") != std::string_view::npos ||
        relative.find('\0') != std::string_view::npos ||
        relative.find('\\') != std::string_view::npos || relative.starts_with('/')) {
        return PathRejection{Rule::illegalSegment, *decoded};
    }
    return std::string(relative);
}

std::set<std::string> AppResourceSchemeHandler::enumerateManifest(
    const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::set<std::string> manifest;
    const std::string rootPrefix = normalizedPath(root) + "/";
    std::error_code error;
    fs::recursive_directory_iterator walk(root, fs::directory_options::skip_permission_denied,
                                          error);
    if (error) return manifest;
    for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (error) break;
        const fs::directory_entry& entry = *walk;
        const fs::path name = entry.path().filename();
        if (isHidden(name)) {
            // A hidden directory is skipped with everything below it.
            std::error_code kind;
            if (entry.is_directory(kind) && !entry.is_symlink(kind))
                walk.disable_recursion_pending();
            continue;
        }
        struct stat status {};
        if (::lstat(entry.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
        std::error_code resolveError;
        const fs::path resolved = fs::weakly_canonical(entry.path(), resolveError);
        if (resolveError) continue;
        const std::string resolvedText = normalizedPath(resolved);
        if (!resolvedText.starts_with(rootPrefix)) continue;
        std::string relative = resolvedText.substr(rootPrefix.size());
        if (!mimeType(lowerCased(extensionOf(fs::path(relative).filename().native())))) continue;
        manifest.insert(std::move(relative));
    }
    return manifest;
}

}  // namespace larkspin
