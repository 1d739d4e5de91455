#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Model/DiskVersion.hpp"
#include "Platform/Json/RawValue.hpp"
#include "Platform/Text/Date.hpp"

namespace larkspin {

// The unsaved text of one document as kept on disk, so that it survives a
// crash: one JSON file per draft, named by `draftID` + ".json", in the folder
// of the RecoveryStore. A plain value.
struct RecoveryDraft {
    // How a draft stopped being needed.
    enum class Resolution { saved, discarded, reloaded, closed };

    // Where the document's file was.
    struct FileIdentity {
        // A FileBookmark of the file; absent when none could be made.
        std::optional<std::string> bookmark;
        std::string path;

        bool operator==(const FileIdentity&) const = default;

        struct Location {
            std::filesystem::path path;
            bool securityScoped = false;  // no such thing on Linux: always false
            bool operator==(const Location&) const = default;
        };

        // Where the file is now: the bookmark's file when it still finds it,
        // else the stored path (whether or not something is there), else
        // nothing when the path is empty.
        std::optional<Location> resolveURL() const;
    };

    // A DiskVersion as a draft stores it (dates in whole seconds).
    struct StoredDiskVersion {
        std::string resourceIdentifier;
        std::int64_t size = 0;
        Date modificationDate = distantPast();
        std::string contentDigest;

        bool operator==(const StoredDiskVersion&) const = default;

        static StoredDiskVersion from(const DiskVersion& version);
        DiskVersion diskVersion() const;
    };

    static constexpr std::int64_t currentSchemaVersion = 1;

    std::int64_t schemaVersion = currentSchemaVersion;
    std::string draftID;
    std::string displayName;
    std::optional<FileIdentity> fileIdentity;
    std::optional<StoredDiskVersion> originalDiskVersion;
    std::string encoding;    // raw value of a DocumentTextEncoding, not checked on reading
    std::string lineEnding;  // raw value of a LineEnding, not checked on reading
    std::optional<std::string> content;  // present while unresolved
    std::int64_t sourceRevision = 0;
    Date createdAt = distantPast();
    Date updatedAt = distantPast();
    std::optional<Date> resolvedAt;
    std::optional<Resolution> resolution;

    bool operator==(const RecoveryDraft&) const = default;

    // The presence of `resolvedAt`, whatever `resolution` says.
    bool isResolved() const { return resolvedAt.has_value(); }

    // A draft identifier names a file, so only the canonical upper-case form
    // of a UUID is one: 8-4-4-4-12 digits 0-9 and A-F.
    static bool isValidID(std::string_view id);

    // How log lines name a draft (or a draft file): its first 8 characters.
    static std::string shortID(std::string_view id);

    // The file's bytes, written with the payload codec: one JSON object, keys
    // sorted by code point at every level, no whitespace, "/" written as
    // "\/", absent optionals left out, dates as whole-second UTC texts, the
    // bookmark in Base64. Bytes that are not UTF-8 (a path on Linux may hold
    // any) are written as U+FFFD; the bookmark keeps the exact path. Whole
    // numbers are exact up to 2^53 (the codec's numbers are doubles), far
    // beyond any size or revision a draft holds.
    std::string encoded() const;

    // Reads a draft file's bytes with the payload codec's rules: unknown keys
    // are ignored and null reads as absent; a missing required key, a value
    // of the wrong type, a fraction in a whole number, a date not in the
    // written form, an unknown resolution, bad Base64, a draft identifier that
    // is not isValidID() or nesting beyond JSONValue's limit make the file
    // unreadable: the error says why and where. The schema version is not
    // judged here.
    static std::expected<RecoveryDraft, std::string> decode(std::string_view bytes);
};

template <>
struct RawValueTable<RecoveryDraft::Resolution> {
    using T = RecoveryDraft::Resolution;
    static constexpr auto entries = std::to_array<std::pair<T, std::string_view>>({
        {T::saved, "saved"},
        {T::discarded, "discarded"},
        {T::reloaded, "reloaded"},
        {T::closed, "closed"},
    });
};

}  // namespace larkspin
