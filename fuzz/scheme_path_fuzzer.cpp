// Any request URL: the two URL schemes' path checks never crash, and what
// they let through keeps their promises. "app-resource" relative paths are
// clean (not empty, no "..", "//", NUL or backslash, no leading "/", UTF-8);
// "document-resource" requests carry a document identifier and an image path
// of an allowed extension, which resolves to an absolute, standardised path.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "Platform/Text/Utf8.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceURL.hpp"

using namespace larkspin;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

void checkFullPath(const std::string& path) {
    require(!path.empty() && path.front() == '/');
    require(!contains(path, std::string_view("\0", 1)));
    for (const auto& part : std::filesystem::path(path)) require(part != "." && part != "..");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view url(reinterpret_cast<const char*>(data), size);

    if (const auto parts = ResourceURL::parse(url)) {
        require(!parts->scheme.empty());
        (void)parts->firstQueryValue("path");
    }

    const auto relative = AppResourceSchemeHandler::relativePath(url);
    if (const auto* path = std::get_if<std::string>(&relative)) {
        require(!path->empty() && path->front() != '/');
        require(!contains(*path, "..") && !contains(*path, "//") && !contains(*path, "\\"));
        require(!contains(*path, std::string_view("\0", 1)));
        require(utf8::isValid(*path));
    }

    const auto parsed = DocumentResourceSchemeHandler::parse(url);
    if (const auto* request = std::get_if<DocumentResourceSchemeHandler::ParsedRequest>(&parsed)) {
        require(!request->documentID.empty() && !request->path.empty());
        require(!contains(request->path, "\\") && request->path.front() != '~');
        require(!contains(request->path, std::string_view("\0", 1)));
        std::string_view name = request->path;
        while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
        std::string extension = std::filesystem::path(name).extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto& allowed = DocumentResourceSchemeHandler::allowedExtensions;
        require(extension.size() > 1 &&
                std::find(allowed.begin(), allowed.end(), extension.substr(1)) != allowed.end());

        const std::filesystem::path document("/home/reader/notes/readme.md");
        const auto located = DocumentResourceSchemeHandler::resolveFullPath(*request, document);
        require(std::holds_alternative<std::string>(located));
        checkFullPath(std::get<std::string>(located));
        const auto unlocated =
            DocumentResourceSchemeHandler::resolveFullPath(*request, std::nullopt);
        if (request->isAbsolute()) {
            checkFullPath(std::get<std::string>(unlocated));
        } else {
            require(std::get<DocumentResourceSchemeHandler::RejectReason>(unlocated) ==
                    DocumentResourceSchemeHandler::RejectReason::noDocumentLocation);
        }
    }
    return 0;
}
