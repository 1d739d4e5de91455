#include "Document/DocumentRegistry.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

namespace larkspin {

std::shared_ptr<Document> DocumentRegistry::find(const std::filesystem::path& path,
                                                 const std::optional<FileIdentity>& identity) const {
    const std::filesystem::path standard = standardizedPath(path);
    for (const Entry& entry : entries_) {
        if (entry.path && *entry.path == standard) return entry.document;
    }
    if (!identity) return nullptr;
    for (const Entry& entry : entries_) {
        if (entry.identity && *entry.identity == *identity) return entry.document;
    }
    return nullptr;
}

std::shared_ptr<Document> DocumentRegistry::add(std::shared_ptr<Document> document,
                                                std::optional<std::filesystem::path> path,
                                                std::optional<FileIdentity> identity) {
    if (!document || contains(*document)) return nullptr;
    if (path) {
        path = standardizedPath(*path);
        if (auto open = find(*path, identity)) return open;
    }
    entries_.push_back(Entry{std::move(document), std::move(path), identity});
    return nullptr;
}

void DocumentRegistry::update(const Document& document, std::optional<std::filesystem::path> path,
                              std::optional<FileIdentity> identity) {
    for (Entry& entry : entries_) {
        if (entry.document.get() != &document) continue;
        entry.path = path ? std::optional(standardizedPath(*path)) : std::nullopt;
        entry.identity = identity;
    }
}

void DocumentRegistry::remove(const Document& document) {
    std::erase_if(entries_, [&](const Entry& entry) { return entry.document.get() == &document; });
}

bool DocumentRegistry::contains(const Document& document) const {
    return std::ranges::any_of(entries_,
                               [&](const Entry& entry) { return entry.document.get() == &document; });
}

std::vector<std::shared_ptr<Document>> DocumentRegistry::documents() const {
    std::vector<std::shared_ptr<Document>> result;
    for (const Entry& entry : entries_) result.push_back(entry.document);
    return result;
}

}  // namespace larkspin
