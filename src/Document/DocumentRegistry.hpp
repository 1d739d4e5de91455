#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "Document/StandardizedPath.hpp"
#include "Platform/Files/FileIdentity.hpp"

// The open documents by file, no two on one file, for the document controller.
namespace larkspin {

class Document;

// The open documents in the order they were opened, no two on one file: a
// file is known first by its standardised path, then by its device and inode
// (a hard link, or a path through a symbolic link). The registry touches no
// file: callers pass the identity they read off the main thread. An identity
// is a record of what the document's path led to when it was read: another
// file may have taken the path since, or the inode number after the file
// went, so a match by identity is the caller's to check against the
// document's path as it is now (and to correct). Main thread.
class DocumentRegistry {
public:
    struct Entry {
        std::shared_ptr<Document> document;
        std::optional<std::filesystem::path> path;  // standardised
        std::optional<FileIdentity> identity;
    };

    // The document open on the file of `path` (standardised), or, failing
    // that, on the file with `identity`; null when there is none.
    std::shared_ptr<Document> find(const std::filesystem::path& path,
                                   const std::optional<FileIdentity>& identity = std::nullopt) const;
    // Adds `document` (once) with its file. Returns the document already open
    // on that file instead, without adding, when there is one.
    std::shared_ptr<Document> add(std::shared_ptr<Document> document,
                                  std::optional<std::filesystem::path> path,
                                  std::optional<FileIdentity> identity);
    // The document's file changed (relocated, saved elsewhere).
    void update(const Document& document, std::optional<std::filesystem::path> path,
                std::optional<FileIdentity> identity);
    void remove(const Document& document);
    bool contains(const Document& document) const;

    std::vector<std::shared_ptr<Document>> documents() const;
    std::size_t size() const { return entries_.size(); }

private:
    std::vector<Entry> entries_;
};

}  // namespace larkspin
