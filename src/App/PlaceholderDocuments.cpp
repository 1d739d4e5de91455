#include "App/PlaceholderDocuments.hpp"

#include <stdexcept>

#include "Platform/Localization.hpp"

namespace larkspin {

Task<DocumentController::Opened> PlaceholderDocuments::openDocument(std::filesystem::path path,
                                                                    bool) {
    throw std::runtime_error(L10n::format("open.error.unavailable", {path.filename().string()}));
    co_return Opened{};
}

std::shared_ptr<OpenedDocument> PlaceholderDocuments::makeUntitledDocument(std::string_view) {
    throw std::runtime_error(L10n::text("open.error.unavailable.untitled"));
}

void PlaceholderDocuments::addDocument(std::shared_ptr<OpenedDocument>) {}

}  // namespace larkspin
