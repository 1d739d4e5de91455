#include "Model/DocumentModel.hpp"

#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"

namespace larkspin {

std::string_view rawValue(RecoveryState state) {
    switch (state) {
        case RecoveryState::noDraft: return "noDraft";
        case RecoveryState::draftPending: return "draftPending";
        case RecoveryState::draftWritten: return "draftWritten";
        case RecoveryState::restoredFromDraft: return "restoredFromDraft";
    }
    return "noDraft";
}

std::string_view rawValue(DocumentModel::State state) {
    switch (state) {
        case DocumentModel::State::clean: return "clean";
        case DocumentModel::State::dirty: return "dirty";
        case DocumentModel::State::conflict: return "conflict";
        case DocumentModel::State::missing: return "missing";
        case DocumentModel::State::accessDenied: return "accessDenied";
    }
    return "clean";
}

std::optional<std::string> DocumentSnapshot::encodedData() const {
    if (!TextEncodingPolicy::isLossless(encoding)) return std::nullopt;
    return TextEncodingPolicy::encode(encoding, LineEndingPolicy::normalizeForSave(text, lineEnding));
}

DocumentModel::DocumentModel() {
    textStorage_.setEditObserver([this](TextStorage&, const TextStorage::Edit& edit) { textDidChange(edit); });
}

std::uint64_t DocumentModel::addTextObserver(TextObserver observer) {
    const std::uint64_t id = nextTextObserver_++;
    textObservers_.emplace_back(id, std::move(observer));
    return id;
}

void DocumentModel::removeTextObserver(std::uint64_t id) {
    for (auto& entry : textObservers_) {
        if (entry.first == id) entry.second = nullptr;
    }
}

bool DocumentModel::isWritable() const {
    return TextEncodingPolicy::isLossless(encoding_) && !isRestricted_;
}

DocumentModel::State DocumentModel::state() const {
    if (isMissing_) return State::missing;
    if (isAccessDenied_) return State::accessDenied;
    if (conflictVersion_) return State::conflict;
    return isDirty() ? State::dirty : State::clean;
}

std::optional<std::string> DocumentModel::writabilityProblem() const {
    if (isRestricted_) return L10n::text("model.not_writable");
    if (encoding_ == DocumentTextEncoding::latin1) return TextEncodingPolicy::notice(encoding_);
    return std::nullopt;
}

void DocumentModel::changed() {
    if (onChange) onChange(*this);
}

void DocumentModel::textDidChange(const TextStorage::Edit& edit) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    ++sourceRevision_;
    // By index: an observer may add or remove observers, or edit, while it
    // runs; removed ones are dropped once the outermost call is done.
    ++notifyingTextObservers_;
    const std::size_t count = textObservers_.size();
    for (std::size_t i = 0; i < count && i < textObservers_.size(); ++i) {
        if (textObservers_[i].second) {
            const TextObserver observer = textObservers_[i].second;
            observer(edit);
        }
    }
    if (--notifyingTextObservers_ == 0) {
        std::erase_if(textObservers_, [](const auto& entry) { return !entry.second; });
    }
    if (!isAdopting_) changed();
}

void DocumentModel::adoptMetadata(const LoadedDocument& loaded) {
    encoding_ = loaded.encoding;
    lineEnding_ = loaded.lineEnding;
    isRestricted_ = loaded.failure.has_value() || loaded.tier == DocumentSizeTier::restricted;
    diskVersion_ = loaded.diskVersion;
    conflictVersion_.reset();
    isMissing_ = false;
    isAccessDenied_ = false;
}

void DocumentModel::adoptText(std::string text, std::optional<std::int64_t> characterCount) {
    isAdopting_ = true;
    if (characterCount) {
        textStorage_.adoptChecked(std::move(text), *characterCount);
    } else if (!textStorage_.replaceAll(std::move(text))) {
        // The loader only hands over valid UTF-8; anything else is a fault
        // upstream. Show nothing rather than a broken text, and never save it.
        AppLog::document.fault("载入的文本不是有效的 UTF-8，按受限文档处理");
        isRestricted_ = true;
        textStorage_.replaceAll(std::string());
    }
    isAdopting_ = false;
    lastSavedRevision_ = sourceRevision_;
    changed();
}

void DocumentModel::adopt(const LoadedDocument& loaded) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    adoptMetadata(loaded);
    adoptText(loaded.source, std::nullopt);
}

void DocumentModel::adopt(LoadedDocument&& loaded) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    adoptMetadata(loaded);
    adoptText(std::move(loaded.source), loaded.characterCount);
}

bool DocumentModel::replaceAll(std::string text) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    return textStorage_.replaceAll(std::move(text));
}

bool DocumentModel::replaceCharacters(TextRange range, std::string_view text) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    return textStorage_.replaceCharacters(range, text);
}

DocumentSnapshot DocumentModel::snapshot() const {
    return DocumentSnapshot{sourceText(), sourceRevision_, encoding_, lineEnding_, diskVersion_};
}

void DocumentModel::noteTextIsSavedText() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!isDirty()) return;
    lastSavedRevision_ = sourceRevision_;
    changed();
}

void DocumentModel::markSaved(const DocumentSnapshot& snapshot, DiskVersion diskVersion) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    lastSavedRevision_ = snapshot.revision;
    diskVersion_ = std::move(diskVersion);
    conflictVersion_.reset();
    isMissing_ = false;
    isAccessDenied_ = false;
    if (recoveryState_ != RecoveryState::noDraft) {
        recoveryState_ = isDirty() ? RecoveryState::draftPending : RecoveryState::noDraft;
    }
    changed();
}

void DocumentModel::noteConflict(std::optional<DiskVersion> version) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    isMissing_ = !version.has_value();
    conflictVersion_ = std::move(version);
    changed();
}

void DocumentModel::acceptDiskVersion(DiskVersion version) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    diskVersion_ = std::move(version);
    conflictVersion_.reset();
    isMissing_ = false;
    isAccessDenied_ = false;
    changed();
}

void DocumentModel::noteMissing(bool missing) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    isMissing_ = missing;
    changed();
}

void DocumentModel::noteAccessDenied(bool denied) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    isAccessDenied_ = denied;
    changed();
}

void DocumentModel::setRecoveryState(RecoveryState state) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    recoveryState_ = state;
    changed();
}

void DocumentModel::beginSave() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    isSaving_ = true;
    changed();
}

void DocumentModel::endSave() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    isSaving_ = false;
    changed();
}

}  // namespace larkspin
