#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Model/DiskVersion.hpp"
#include "Model/DocumentTextEncoding.hpp"
#include "Model/LineEnding.hpp"
#include "Model/LoadedDocument.hpp"
#include "Model/TextStorage.hpp"

namespace larkspin {

// A document's recovery-draft state, set by the document as it schedules,
// writes, applies and resolves drafts.
enum class RecoveryState { noDraft, draftPending, draftWritten, restoredFromDraft };
std::string_view rawValue(RecoveryState state);

// What a save or a draft takes from the model.
struct DocumentSnapshot {
    std::string text;
    std::int64_t revision = 0;
    DocumentTextEncoding encoding = DocumentTextEncoding::utf8;
    LineEnding lineEnding = LineEnding::lf;
    std::optional<DiskVersion> diskVersion;

    // The file's bytes for a save: the text with its line endings restored,
    // in its encoding; nothing when the encoding cannot hold the text or is
    // Latin-1.
    std::optional<std::string> encodedData() const;
};

// The text model of one open document: the text, its revisions, the disk
// version it corresponds to, its encoding and line endings, and what is wrong
// with the file on disk. Every change ends in one call of `onChange`.
// Main thread.
class DocumentModel {
public:
    enum class State { clean, dirty, conflict, missing, accessDenied };

    DocumentModel();
    DocumentModel(const DocumentModel&) = delete;
    DocumentModel& operator=(const DocumentModel&) = delete;

    const TextStorage& textStorage() const { return textStorage_; }
    const std::string& sourceText() const { return textStorage_.string(); }
    // The text as it is now, shared without a copy (for the reader).
    std::shared_ptr<const std::string> sharedSourceText() const { return textStorage_.shared(); }

    std::int64_t sourceRevision() const { return sourceRevision_; }
    std::int64_t lastSavedRevision() const { return lastSavedRevision_; }
    const std::optional<DiskVersion>& diskVersion() const { return diskVersion_; }
    DocumentTextEncoding encoding() const { return encoding_; }
    LineEnding lineEnding() const { return lineEnding_; }
    bool isRestricted() const { return isRestricted_; }
    const std::optional<DiskVersion>& conflictVersion() const { return conflictVersion_; }
    bool isMissing() const { return isMissing_; }
    bool isAccessDenied() const { return isAccessDenied_; }
    RecoveryState recoveryState() const { return recoveryState_; }
    bool isSaving() const { return isSaving_; }

    bool isDirty() const { return sourceRevision_ != lastSavedRevision_; }
    bool isWritable() const;
    bool requiresNormalizationConfirm() const { return lineEnding_ == LineEnding::mixed; }
    State state() const;
    // Why the document cannot be saved, or nothing when it can.
    std::optional<std::string> writabilityProblem() const;

    // Set by the owning document.
    std::function<void(DocumentModel&)> onChange;

    // Views of the text (the editor) learn of every edit of the characters,
    // whoever made it, before `onChange`. An observer may be removed from
    // inside a call; one added there is first called for the next edit.
    using TextObserver = std::function<void(const TextStorage::Edit&)>;
    std::uint64_t addTextObserver(TextObserver observer);
    void removeTextObserver(std::uint64_t id);

    // Takes a loader's result: the text becomes clean at the new revision, and
    // `onChange` runs once. Taken from an rvalue with its character count,
    // the text is moved in without another check or count.
    void adopt(const LoadedDocument& loaded);
    void adopt(LoadedDocument&& loaded);

    // Edits. Each edit of the characters bumps the source revision by one and
    // calls `onChange`. An out-of-range edit or invalid UTF-8 changes nothing
    // and returns false.
    bool replaceAll(std::string text);
    bool replaceCharacters(TextRange range, std::string_view text);

    DocumentSnapshot snapshot() const;

    void markSaved(const DocumentSnapshot& snapshot, DiskVersion diskVersion);
    // The text is again the text last saved or read (an undo or redo went
    // back to it): clean at the current revision. Nothing when clean.
    void noteTextIsSavedText();
    void noteConflict(std::optional<DiskVersion> version);
    void acceptDiskVersion(DiskVersion version);
    void noteMissing(bool missing);
    void noteAccessDenied(bool denied);
    void setRecoveryState(RecoveryState state);
    void beginSave();
    void endSave();

private:
    void adoptMetadata(const LoadedDocument& loaded);
    void adoptText(std::string text, std::optional<std::int64_t> characterCount);
    void textDidChange(const TextStorage::Edit& edit);
    void changed();

    TextStorage textStorage_;
    std::int64_t sourceRevision_ = 0;
    std::int64_t lastSavedRevision_ = 0;
    std::optional<DiskVersion> diskVersion_;
    DocumentTextEncoding encoding_ = DocumentTextEncoding::utf8;
    LineEnding lineEnding_ = LineEnding::lf;
    bool isRestricted_ = false;
    std::optional<DiskVersion> conflictVersion_;
    bool isMissing_ = false;
    bool isAccessDenied_ = false;
    RecoveryState recoveryState_ = RecoveryState::noDraft;
    bool isSaving_ = false;
    bool isAdopting_ = false;
    std::vector<std::pair<std::uint64_t, TextObserver>> textObservers_;
    std::uint64_t nextTextObserver_ = 1;
    int notifyingTextObservers_ = 0;
};

std::string_view rawValue(DocumentModel::State state);

}  // namespace larkspin
