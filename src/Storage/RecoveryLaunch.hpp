#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Async/Task.hpp"
#include "Storage/RecoveryDraft.hpp"
#include "Storage/RecoveryStore.hpp"

namespace larkspin {

// Reopens, once per launch, the unsaved text that a crash left behind as
// unresolved recovery drafts: into the draft's file when it can still be
// found and opened for editing, else into a new untitled document.
namespace RecoveryLaunch {

// What the restore needs of a document. Main thread.
class Document {
public:
    virtual ~Document() = default;

    virtual void makeWindowControllers() = 0;
    virtual void showWindows() = 0;
    // Takes the draft's text, identifier and creation date and shows its notice.
    virtual void applyRecoveryDraft(const RecoveryDraft& draft) = 0;
    virtual void setRecoveryStore(std::shared_ptr<RecoveryStore> store) = 0;
    // True when the document shows its file read-only (a restricted preview
    // of a very large file, Latin-1): text given to it could never be saved.
    virtual bool isReadOnly() const = 0;
};

// What the restore needs of the document controller. Main thread.
class DocumentController {
public:
    // `document` is null when what was opened is not a restorable document;
    // `error` describes why opening failed. `alreadyOpen` is not consulted.
    using OpenCompletion = std::function<void(std::shared_ptr<Document> document, bool alreadyOpen,
                                              std::optional<std::string> error)>;

    virtual ~DocumentController() = default;

    // Opens (or finds already open) the document of `path` and, with
    // `display`, shows its window; calls `completion` exactly once, later or
    // at once, on the main thread.
    virtual void openDocument(std::filesystem::path path, bool display,
                              OpenCompletion completion) = 0;
    // A new untitled document of `typeIdentifier`; null when it is not a
    // restorable document. Throws (std::exception) when none can be made.
    virtual std::shared_ptr<Document> makeUntitledDocument(std::string_view typeIdentifier) = 0;
    virtual void addDocument(std::shared_ptr<Document> document) = 0;
};

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
Task<std::vector<std::shared_ptr<Document>>> restoreUnresolvedDrafts(
    std::shared_ptr<RecoveryStore> store, std::shared_ptr<DocumentController> controller,
    std::vector<std::filesystem::path> otherFolders = {});

}  // namespace RecoveryLaunch

}  // namespace larkspin
