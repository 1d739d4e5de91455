#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/InodeWatch.hpp"
#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Follows one file while other programs move, replace or delete it: what a
// file presenter learns on other platforms. It watches the file through an
// InodeWatch (an O_PATH descriptor and an inotify subscription, shared with
// whoever else watches the file under that name).
//
// - A move (rename, also into another folder of the same file system) is
//   noticed on the inode itself; the new path is read from /proc/self/fd.
// - When the inode loses its last name, the tracker looks at its path: if a
//   file is there now, the file was replaced (saved atomically by another
//   program) and the tracker follows the new file; otherwise it was deleted
//   and the tracker stops. The new file is watched only once it is known to
//   be the one at the path (see InodeWatch::open), so a replacement racing
//   the next one never leaves the tracker on a file without a name.
// - Any other write or attribute change is a change.
class FileTracker {
public:
    enum class Change { changed, moved, deleted };
    struct Notice {
        Change change;
        std::filesystem::path path;  // the file's path after the change
    };
    using Handler = std::function<void(const Notice&)>;

    // Opens `path` and starts watching; throws std::system_error (errno
    // values) when it cannot. `handler` runs on `queue`, one notice at a time.
    // Files are opened and looked at through `sys` (kept by copy).
    FileTracker(std::filesystem::path path, std::shared_ptr<SerialExecutor> queue, Handler handler,
                const SysCalls& sys = realSysCalls());
    // Stops watching at once, without waiting for the queue: afterwards the
    // subscription is gone and no new notice starts (a handler call already
    // under way may still finish).
    ~FileTracker();
    FileTracker(const FileTracker&) = delete;
    FileTracker& operator=(const FileTracker&) = delete;

    // Where the file is now, as far as the tracker knows. Thread-safe.
    std::filesystem::path path() const;
    // The file followed now (null once it was deleted): its descriptor stays
    // open for as long as the caller holds it. Thread-safe; touches no disk.
    InodeWatch::File file() const;

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

// The path the file behind `fd` has now, read from /proc/self/fd; empty when
// it has none (its last name is gone, or it is no file of a path).
std::filesystem::path currentPathOf(int fd);

// Whether two stat results are of one file (device and inode).
inline bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace larkspin
