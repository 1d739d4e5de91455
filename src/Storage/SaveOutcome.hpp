#pragma once

#include <optional>
#include <string>
#include <variant>

#include "Model/DiskVersion.hpp"

namespace larkspin {

// Why a save did not complete, by the step where it stopped.
struct SaveFailure {
    enum class Kind {
        temporaryWrite,  // creating, writing or syncing the temporary file
        replace,         // moving it into place, or re-reading the file before that
        coordination,    // kept for the document's sake; Linux has no file coordinator
        verification,    // the bytes read back differ (the file WAS replaced)
        encoding,        // the text cannot be encoded; never produced by the store
    };

    Kind kind = Kind::replace;
    std::string message;               // temporaryWrite, replace, coordination
    std::string expectedDigest;        // verification: SHA-256 of the bytes meant
    std::optional<std::string> found;  // verification: digest read back, if any

    static SaveFailure temporaryWrite(std::string message);
    static SaveFailure replace(std::string message);
    static SaveFailure coordination(std::string message);
    static SaveFailure verification(std::string expected, std::optional<std::string> found);
    static SaveFailure encoding();

    // The localised one-line message for the user.
    std::string description() const;

    // True when the file on disk is still the one from before the save. False
    // for a verification failure: the replace has already happened and the
    // file holds whatever was read back, so the user must not be told that
    // the original is unchanged (use "save.error.failed_replaced" there).
    bool leavesOriginalUnchanged() const { return kind != Kind::verification; }

    bool operator==(const SaveFailure&) const = default;
};

// What a save ended with.
struct SaveOutcome {
    struct Saved {
        DiskVersion version;  // read back from disk after the write
        bool operator==(const Saved&) const = default;
    };
    struct Conflict {
        DiskVersion expected;
        std::optional<DiskVersion> found;  // absent: the file is gone
        bool operator==(const Conflict&) const = default;
    };

    std::variant<Saved, Conflict, SaveFailure> value;

    static SaveOutcome saved(DiskVersion version) { return {Saved{std::move(version)}}; }
    static SaveOutcome conflict(DiskVersion expected, std::optional<DiskVersion> found) {
        return {Conflict{std::move(expected), std::move(found)}};
    }
    static SaveOutcome failed(SaveFailure failure) { return {std::move(failure)}; }

    const Saved* asSaved() const { return std::get_if<Saved>(&value); }
    const Conflict* asConflict() const { return std::get_if<Conflict>(&value); }
    const SaveFailure* asFailure() const { return std::get_if<SaveFailure>(&value); }

    // "saved(<version>)", "conflict(expected: <version>, found: <version or nil>)",
    // "failed(<failure description>)".
    std::string description() const;

    bool operator==(const SaveOutcome&) const = default;
};

}  // namespace larkspin
