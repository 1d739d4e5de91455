#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace larkspin {

// What the file-change observer reports about a watched file.
struct FileChangeEvent {
    enum class Kind : std::uint8_t {
        write,         // data written
        extend,        // the file grew
        delete_,       // the file lost its last name (the underscore only avoids the keyword)
        rename,        // a rename moved the file
        attrib,        // attributes changed
        link,          // the link count changed
        reopened,      // the watched path was found again after a delete or rename
        reopenFailed,  // the watched path was given up
        presenterDidChange,
        presenterDidMove,  // `url` is the new location
        presenterDeletion,
        presenterGainedVersion,
        presenterLostVersion,
        presenterResolvedConflict,
    };

    Kind kind = Kind::write;
    std::filesystem::path url;  // presenterDidMove only

    FileChangeEvent(Kind k) : kind(k) {}  // NOLINT: a kind is an event
    static FileChangeEvent presenterDidMove(std::filesystem::path newLocation) {
        FileChangeEvent event(Kind::presenterDidMove);
        event.url = std::move(newLocation);
        return event;
    }

    bool operator==(const FileChangeEvent&) const = default;

    // For log lines: "write", "extend", "delete", "rename", "attrib", "link",
    // "reopened", "reopenFailed", "didChange", "didMove(<last component>)",
    // "deletion", "gainedVersion", "lostVersion", "resolvedConflict".
    std::string description() const;
};

}  // namespace larkspin

template <>
struct std::hash<larkspin::FileChangeEvent> {
    std::size_t operator()(const larkspin::FileChangeEvent& event) const noexcept;
};
