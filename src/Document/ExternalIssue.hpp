#pragma once

#include <chrono>
#include <initializer_list>
#include <set>
#include <string>
#include <variant>

#include "Model/DiskVersion.hpp"
#include "Model/ExternalIssueKind.hpp"
#include "Model/LoadedDocument.hpp"

namespace larkspin {

// Why a recovery draft went into a new untitled document instead of its own
// file: the file is gone, it changed since the draft was taken, it opens only
// read-only (or not at all), or it took another draft in the same restore.
enum class DraftSetAside { sourceGone, sourceChanged, sourceReadOnly, sourceTaken };

// The one problem with a document's file, or with saving it, that the
// document's notice bar shows. A newer issue replaces the older one; an issue
// is cleared by its kind.
struct ExternalIssue {
    struct Conflict {
        DiskVersion found;  // the version on disk
        bool operator==(const Conflict&) const = default;
    };
    struct ExternalChanged {
        DiskVersion found;
        bool operator==(const ExternalChanged&) const = default;
    };
    struct Unreadable {
        DocumentLoadFailure failure;
        bool operator==(const Unreadable&) const = default;
    };
    struct SaveFailed {
        std::string text;  // the failure's text
        // The file was replaced before the failure (the read-back differs):
        // the original is no longer on disk.
        bool originalReplaced = false;
        bool operator==(const SaveFailed&) const = default;
    };
    struct Recovered {
        std::chrono::system_clock::time_point draftUpdated;
        bool operator==(const Recovered&) const = default;
    };
    // The file is gone; for an untitled document holding a recovered draft,
    // `setAside` says why the draft is not in its file.
    struct Missing {
        DraftSetAside setAside = DraftSetAside::sourceGone;
        bool operator==(const Missing&) const = default;
    };

    using Value = std::variant<Conflict, ExternalChanged, Unreadable, SaveFailed, Recovered, Missing>;
    Value value;

    // "permission" for an unreadable file whose failure is a refused
    // permission; otherwise the case's own kind.
    ExternalIssueKind kind() const;

    bool operator==(const ExternalIssue&) const = default;

    static ExternalIssue conflict(DiskVersion found) { return {Conflict{std::move(found)}}; }
    static ExternalIssue externalChanged(DiskVersion found) { return {ExternalChanged{std::move(found)}}; }
    static ExternalIssue unreadable(DocumentLoadFailure failure) { return {Unreadable{std::move(failure)}}; }
    static ExternalIssue saveFailed(std::string text, bool originalReplaced = false) {
        return {SaveFailed{std::move(text), originalReplaced}};
    }
    static ExternalIssue recovered(std::chrono::system_clock::time_point date) { return {Recovered{date}}; }
    static ExternalIssue missing(DraftSetAside setAside = DraftSetAside::sourceGone) {
        return {Missing{setAside}};
    }
};

// A set of issue kinds to clear; empty means any issue.
using ExternalIssueKinds = std::set<ExternalIssueKind>;

// Whether clearing with `kinds` removes an issue of `kind`.
inline bool clears(const ExternalIssueKinds& kinds, ExternalIssueKind kind) {
    return kinds.empty() || kinds.contains(kind);
}

}  // namespace larkspin
