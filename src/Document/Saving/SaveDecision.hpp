#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "Document/StandardizedPath.hpp"
#include "Model/DiskVersion.hpp"
#include "Model/DocumentModel.hpp"
#include "Storage/SaveOutcome.hpp"

namespace larkspin {

// The three kinds of save a document tells apart (raw values as logged).
// Only a plain save checks the file for changes by others; only a save as
// moves the document; a save to leaves the document as it was.
enum class SaveOperation { save = 0, saveAs = 1, saveTo = 2 };

// Why a save did not end saved, as its requester hears it.
struct SaveError {
    enum class Kind { notWritable, conflict, failed };
    Kind kind = Kind::notWritable;
    std::string message;               // notWritable: the text to show
    std::optional<DiskVersion> found;  // conflict: the version on disk, none when gone
    SaveFailure failure;               // failed

    static SaveError notWritable(std::string message) { return {Kind::notWritable, std::move(message), {}, {}}; }
    static SaveError conflict(std::optional<DiskVersion> found) { return {Kind::conflict, {}, std::move(found), {}}; }
    static SaveError failed(SaveFailure failure) { return {Kind::failed, {}, {}, std::move(failure)}; }

    // The localised text for the user.
    std::string description() const;
};

// The text of a failed save: the notice bar's message and the error's
// description. A failure after the file was replaced (the read-back differs)
// does not claim that the original is unchanged.
std::string saveFailedText(const SaveFailure& failure);

// True when a save of `operation` to `target` writes the document's own file
// in place: a plain save to the standardised path of `fileURL`. A save as or
// save to the same path does not count (they send no expected version).
bool isOwnFile(const std::optional<std::filesystem::path>& fileURL,
               const std::filesystem::path& target, SaveOperation operation);

// What to do with a save request, decided before anything is written.
struct SaveDecision {
    enum class Kind {
        refuse,       // `refusal` says why; nothing is written
        nothingToDo,  // answered as done at once
        write,        // write, with `expected` as the conflict test's version
    };
    Kind kind = Kind::write;
    std::string refusal;
    std::optional<DiskVersion> expected;

    bool operator==(const SaveDecision&) const = default;
};

// Refusal for a model that cannot be saved (its writability problem, or
// "save.error.not_writable"); nothing to do only for a plain save of a clean
// model to its own file whose disk version is known and which is neither
// missing nor in conflict (a file that went away or changed must be written
// or reported, never skipped); otherwise a write, expecting the model's disk
// version exactly when the target is the own file.
SaveDecision decideSave(const DocumentModel& model, const std::optional<std::filesystem::path>& fileURL,
                        const std::filesystem::path& target, SaveOperation operation);

}  // namespace larkspin
