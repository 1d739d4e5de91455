#pragma once

#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "Document/DocumentOpening.hpp"
#include "Platform/Async/Task.hpp"
#include "Storage/RecoveryStore.hpp"

namespace larkspin {

// Reopens, once per launch, the unsaved text that a crash left behind as
// unresolved recovery drafts: into the draft's file when it can still be
// found and opened for editing, else into a new untitled document.
namespace RecoveryLaunch {

// The content type of the untitled documents that drafts are restored into.
inline constexpr std::string_view markdownTypeIdentifier = "text/markdown";

// How long resolved drafts are kept: seven days, in seconds.
inline constexpr double resolvedDraftRetention = 604800;

// Removes the stale temporary files that killed writes left in the drafts
// folder and in `otherFolders` (the shell passes the preferences' folder), on
// the store's queue; deletes resolved drafts older than the retention; then
// restores every unresolved draft with content, least recently updated
// first, one after another. Returns the documents that received a draft, in
// that order. Never fails: a draft that could not be restored (whatever went
// wrong with it) stays on disk for the next launch, and the others are still
// restored.
Task<std::vector<std::shared_ptr<OpenedDocument>>> restoreUnresolvedDrafts(
    std::shared_ptr<RecoveryStore> store, std::shared_ptr<DocumentOpener> controller,
    std::vector<std::filesystem::path> otherFolders = {});

}  // namespace RecoveryLaunch

}  // namespace larkspin
