#pragma once

#include <optional>
#include <string_view>

#include "Document/ExternalIssue.hpp"
#include "Model/DiskVersion.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Storage/ContentStabilizer.hpp"

namespace larkspin {

class DocumentModel;

// What a settled verdict on the file says, measured against the version the
// document's text was read at.
enum class DiskFinding {
    sameContent,       // the bytes the text was read at (size and digest)
    newContent,        // other bytes, or the document knows no version
    permissionDenied,  // not allowed to read it
    readError,         // any other read failure
    vanished,          // no file there (or a folder)
};

// How the file was last lost since it was last seen.
enum class FileLoss { none, deleted, renamed };

// Everything the reaction depends on, read from the document at the moment a
// verdict arrives.
struct DiskChangeSituation {
    DiskFinding finding = DiskFinding::sameContent;
    bool saving = false;
    bool dirty = false;
    bool conflictRecorded = false;
    // The recorded conflict's version has the found bytes.
    bool conflictHasFoundContent = false;
    // The found version equals the baseline in all four fields.
    bool baselineIdentical = false;
    // The model is missing, access-denied or in conflict.
    bool issueFlagRaised = false;
    ExternalChangePolicy policy = ExternalChangePolicy::reload;
    FileLoss lastLoss = FileLoss::none;
    bool gracePending = false;
};

enum class DiskChangeAction {
    park,             // a save runs: keep the verdict for its end
    keepConflict,     // the conflict's version is what is there: leave it
    clearIssues,      // known content, nothing to move: clear the file issues
    acceptVersion,    // known content under a new identity or date: move the baseline, clear
    acceptRecovered,  // known content after a raised flag: move the baseline, clear, log
    reload,           // a clean document under policy "reload"
    ask,              // a clean document under policy "ask": the external-change notice
    conflict,         // a dirty document, or one already in conflict
    permission,       // the permission notice; the text stays
    readError,        // the unreadable notice; the text stays
    missingNow,       // the missing notice at once
    startGrace,       // after a rename: missing only when no new path comes in time
    awaitGrace,       // a grace period already runs: nothing
};

// The one decision on a settled verdict; first matching rule wins.
DiskChangeAction decideDiskChange(const DiskChangeSituation& situation);

// Reads the verdict against the document's baseline.
DiskFinding classifyOutcome(const ContentStabilizer::Outcome& outcome,
                            const std::optional<DiskVersion>& baseline);

// The situation of `model` when `outcome` arrives.
DiskChangeSituation describeSituation(const DocumentModel& model,
                                      const ContentStabilizer::Outcome& outcome,
                                      ExternalChangePolicy policy, FileLoss lastLoss,
                                      bool gracePending);

// For log lines: "park", "reload", "missingNow"…
std::string_view rawValue(DiskChangeAction action);

// Issue kinds cleared when the file is back at the bytes the text was read at.
const ExternalIssueKinds& issuesClearedByKnownContent();
// … after a successful reload (the above and "recovered").
const ExternalIssueKinds& issuesClearedByReload();
// … after following a move ("missing").
const ExternalIssueKinds& issuesClearedByMove();

}  // namespace larkspin
