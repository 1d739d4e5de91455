#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/FileIdentity.hpp"
#include "Platform/Files/InodeWatch.hpp"
#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Follows one document's file while other programs move, replace or delete
// it, and is the one place that decides which of these happened: what a file
// presenter learns on other platforms. It watches the file (an InodeWatch:
// an O_PATH descriptor and an inotify subscription) and the file's name in
// its folder (an inotify watch of that name, no descriptor), and reports
// settled facts only:
//
// - `changed`: the file at the path changed, or the path now names another
//   regular file (an editor's save by rename, a symbolic link retargeted, a
//   file put back after a deletion). The tracker watches that file from now
//   on; what it holds is for the reader of the path to judge.
// - `moved`: the file now lives at another path, to be followed. Either its
//   name stayed empty for `renameGrace` after it left (a rename or a move to
//   another folder), or its folder itself was moved or swapped (the folder
//   at the folder's path is no longer the one it was, by device and inode).
//   A file that left its name while a new file takes that name, before or
//   after, within the grace period, was replaced: whatever became of the old
//   one (a backup, removed, another hard link), the tracker stays on the
//   path.
// - `deleted`: no file has the name and the file has no name to follow. The
//   folder is still watched: a file that appears there later is `changed`.
class FileTracker {
public:
    enum class Change { changed, moved, deleted };
    struct Notice {
        Change change;
        std::filesystem::path path;  // the file's path after the change
    };
    using Handler = std::function<void(const Notice&)>;

    // How long a file that left its name is given before its new name is
    // taken as a move: the name may be taken by the file's replacement. The
    // program's one wait on a rename: a document shows a renamed file
    // missing only on the tracker's `deleted`. (Its watch reads a path off
    // the tracker's file itself only when the tracker made at a reported new
    // path finds the file gone on; see DocumentDiskWatch.)
    static constexpr Clock::Duration renameGrace = std::chrono::milliseconds(1500);

    // Opens `path` and starts watching; throws std::system_error (errno
    // values) when it cannot. `handler` runs on `queue`, one notice at a
    // time; the grace period reads the queue's clock. Files are opened and
    // looked at through `sys` (kept by copy).
    FileTracker(std::filesystem::path path, std::shared_ptr<SerialExecutor> queue, Handler handler,
                const SysCalls& sys = realSysCalls());
    // Stops watching at once, without waiting for the queue: afterwards the
    // subscriptions are gone and no new notice starts (a handler call already
    // under way may still finish).
    ~FileTracker();
    FileTracker(const FileTracker&) = delete;
    FileTracker& operator=(const FileTracker&) = delete;

    // Where the file is now, as far as the tracker knows. Thread-safe.
    std::filesystem::path path() const;
    // The file followed now (null while none has the name): its descriptor
    // stays open for as long as the caller holds it. Thread-safe; touches no
    // disk.
    InodeWatch::File file() const;

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

// The path the file behind `fd` has now, read from /proc/self/fd; empty when
// it has none (its last name is gone, or it is no file of a path).
std::filesystem::path currentPathOf(int fd);

}  // namespace larkspin
