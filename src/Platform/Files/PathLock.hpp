#pragma once

#include <filesystem>
#include <string>

namespace larkspin {

// Serialises this process's own readers and writers of one file. Linux has no
// coordination between processes, so this is the whole of "file
// coordination" here: a reader-writer lock per canonical path, taken for the
// time of one read or one replace. Locks of different paths never wait for
// each other; a symbolic link and its target share one lock.
class PathLock {
public:
    enum class Mode { shared, exclusive };

    // Blocks until the lock is granted. Never fails.
    PathLock(const std::filesystem::path& path, Mode mode);
    ~PathLock();
    PathLock(const PathLock&) = delete;
    PathLock& operator=(const PathLock&) = delete;

    // The path with every symbolic link resolved; for a file that does not
    // exist yet, its folder's resolved path with the name appended. Falls
    // back to the absolute path when even that cannot be found.
    static std::filesystem::path canonicalKey(const std::filesystem::path& path);

    struct Entry;  // one lock and its users; internal

private:
    std::string key_;
    Entry* entry_;
    Mode mode_;
};

}  // namespace larkspin
