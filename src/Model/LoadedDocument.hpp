#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Model/DiskVersion.hpp"
#include "Model/DocumentTextEncoding.hpp"
#include "Model/LineEnding.hpp"

namespace larkspin {

// How much of a document is opened, by its byte count.
enum class DocumentSizeTier { normal, large, restricted };

inline constexpr std::int64_t largeDocumentThreshold = 5 * 1024 * 1024;        // above: large
inline constexpr std::int64_t restrictedDocumentThreshold = 20 * 1024 * 1024;  // above: restricted
inline constexpr std::int64_t restrictedPreviewBytes = 1024 * 1024;
// The preview's lines are broken after at most this many bytes: a text view
// lays out a line whole, and a line of a megabyte took it a second at every
// change of width.
inline constexpr std::size_t restrictedPreviewLineBytes = 2000;

// restricted above 20 MiB, large above 5 MiB, normal otherwise (both bounds
// exclusive).
DocumentSizeTier classifySizeTier(std::int64_t bytes);

// "normal", "large", "restricted", for logs.
std::string_view rawValue(DocumentSizeTier tier);

// Why a file could not be read.
struct DocumentLoadFailure {
    enum class Kind { readError, notFound, permissionDenied, isDirectory };

    Kind kind = Kind::readError;
    std::string message;  // readError only: the system's text

    std::string title() const;
    std::string detail() const;

    bool operator==(const DocumentLoadFailure&) const = default;

    static DocumentLoadFailure readError(std::string message);
    static DocumentLoadFailure notFound();
    static DocumentLoadFailure permissionDenied();
    static DocumentLoadFailure isDirectory();
};

// What the loader gives a document: the text, or a preview of a file too big
// to open, or why nothing could be read.
struct LoadedDocument {
    std::string source;  // empty for a restricted file and after a failure
    // The characters of `source`, when the loader counted them (its text is
    // then valid UTF-8): the model takes the text without looking again.
    std::optional<std::int64_t> characterCount;
    std::int64_t byteCount = 0;
    DocumentSizeTier tier = DocumentSizeTier::normal;
    DocumentTextEncoding encoding = DocumentTextEncoding::utf8;
    LineEnding lineEnding = LineEnding::lf;
    std::optional<DiskVersion> diskVersion;
    std::optional<std::string> preview;  // restricted: the decoded first 1 MiB, lines broken
    std::optional<DocumentLoadFailure> failure;

    bool operator==(const LoadedDocument&) const = default;

    static LoadedDocument empty() { return {}; }
    std::optional<std::string> encodingNotice() const;
};

}  // namespace larkspin
