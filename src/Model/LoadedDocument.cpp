#include "Model/LoadedDocument.hpp"

#include "Platform/Localization.hpp"

namespace larkspin {

DocumentSizeTier classifySizeTier(std::int64_t bytes) {
    if (bytes > restrictedDocumentThreshold) return DocumentSizeTier::restricted;
    if (bytes > largeDocumentThreshold) return DocumentSizeTier::large;
    return DocumentSizeTier::normal;
}

std::string_view rawValue(DocumentSizeTier tier) {
    switch (tier) {
        case DocumentSizeTier::normal:
            return "normal";
        case DocumentSizeTier::large:
            return "large";
        case DocumentSizeTier::restricted:
            return "restricted";
    }
    return "normal";
}

std::string DocumentLoadFailure::title() const {
    switch (kind) {
        case Kind::readError:
            return L10n::text("load.title.read_error");
        case Kind::notFound:
            return L10n::text("load.title.not_found");
        case Kind::permissionDenied:
            return L10n::text("load.title.permission_denied");
        case Kind::isDirectory:
            return L10n::text("load.title.is_directory");
    }
    return L10n::text("load.title.read_error");
}

std::string DocumentLoadFailure::detail() const {
    switch (kind) {
        case Kind::readError:
            return L10n::format("load.detail.read_error", {message});
        case Kind::notFound:
            return L10n::text("load.detail.not_found");
        case Kind::permissionDenied:
            return L10n::text("load.detail.permission_denied");
        case Kind::isDirectory:
            return L10n::text("load.detail.is_directory");
    }
    return L10n::format("load.detail.read_error", {message});
}

DocumentLoadFailure DocumentLoadFailure::readError(std::string message) {
    return {Kind::readError, std::move(message)};
}
DocumentLoadFailure DocumentLoadFailure::notFound() {
    return {Kind::notFound, {}};
}
DocumentLoadFailure DocumentLoadFailure::permissionDenied() {
    return {Kind::permissionDenied, {}};
}
DocumentLoadFailure DocumentLoadFailure::isDirectory() {
    return {Kind::isDirectory, {}};
}

std::optional<std::string> LoadedDocument::encodingNotice() const {
    return TextEncodingPolicy::notice(encoding);
}

}  // namespace larkspin
