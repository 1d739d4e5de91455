#include "Platform/Files/FileTracker.hpp"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>

#include "Platform/Files/InotifyService.hpp"

namespace larkspin {

std::filesystem::path currentPathOf(int fd) {
    char link[40];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(link, target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return {};
    target.resize(static_cast<std::size_t>(length));
    if (target.empty() || target.front() != '/') return {};  // not a path (anon inode…)
    // The name the file had when that name went: no place to follow (another
    // hard link, if any, is not told).
    constexpr std::string_view deleted = " (deleted)";
    if (target.ends_with(deleted)) return {};
    return target;
}

// Everything is worked out on the queue, one look at a time: the file's
// events, its name's events and the end of a grace period all lead to the
// same look at the disk (reconsider), so the decision never depends on which
// event came first. The destructor (any thread) only takes the watches away,
// under the mutex, so it never waits for a job.
struct FileTracker::Core : std::enable_shared_from_this<Core> {
    using Inbox = std::atomic<std::uint32_t>;

    Core(std::filesystem::path p, std::shared_ptr<SerialExecutor> q, Handler h, const SysCalls& s)
        : path(std::move(p)), queue(std::move(q)), handler(std::move(h)), sys(s) {}

    // Runs `look` on the queue once for any number of events that arrive
    // before it runs (as a dispatch source's pending data does).
    template <typename Look>
    auto collector(const std::shared_ptr<Inbox>& box, Look look) {
        std::weak_ptr<Core> weak = weak_from_this();
        std::weak_ptr<Inbox> weakBox = box;
        return [weak, weakBox, look](std::uint32_t mask) {
            auto pending = weakBox.lock();
            auto core = weak.lock();
            if (!pending || !core) return;
            if (pending->fetch_or(mask) != 0) return;
            core->queue->submit([weak, weakBox, look] {
                auto self = weak.lock();
                auto held = weakBox.lock();
                if (self && held) look(*self, held);
            });
        };
    }

    // Watches the file `where` names from now on, in place of the one
    // watched so far.
    std::error_code attach(const std::filesystem::path& where) {
        auto newInbox = std::make_shared<Inbox>(0);
        auto watched = InodeWatch::open(
            where, collector(newInbox, [](Core& core, const std::shared_ptr<Inbox>& box) {
                core.fileEvents(box);
            }),
            sys);
        if (!watched) return watched.error();
        InodeWatch previous;  // dropped after the lock
        std::lock_guard lock(mutex);
        if (stopped) {
            previous = std::move(*watched);
            return {};
        }
        previous = std::exchange(watch, std::move(*watched));
        inbox = std::move(newInbox);
        return {};
    }

    // Watches the name of `where` in its folder, and remembers which folder
    // that is.
    void watchName(const std::filesystem::path& where) {
        const auto folderPath = where.parent_path();
        std::optional<FileIdentity> identity;
        InotifyService::Watch made;
        auto newInbox = std::make_shared<Inbox>(0);
        if (!folderPath.empty() && !where.filename().empty()) {
            identity = readFileIdentity(folderPath, sys);
            auto watched = InotifyService::shared().watchName(
                folderPath, where.filename().native(),
                collector(newInbox, [](Core& core, const std::shared_ptr<Inbox>& box) {
                    core.nameEvents(box);
                }));
            if (watched) made = std::move(*watched);
        }
        InotifyService::Watch previous;  // dropped after the lock
        std::lock_guard lock(mutex);
        folder = identity;
        if (stopped) {
            previous = std::move(made);
            return;
        }
        previous = std::exchange(nameWatch, std::move(made));
        nameInbox = std::move(newInbox);
    }

    void fileEvents(const std::shared_ptr<Inbox>& box) {
        // Taken first, so that later events queue a job again even when this
        // watch is not (or no longer) the one in use.
        const std::uint32_t mask = box->exchange(0);
        {
            std::lock_guard lock(mutex);
            if (stopped || box != inbox) return;
        }
        reconsider(mask, false);
    }

    void nameEvents(const std::shared_ptr<Inbox>& box) {
        const std::uint32_t mask = box->exchange(0);
        {
            std::lock_guard lock(mutex);
            if (stopped || box != nameInbox) return;
        }
        reconsider(0, false, (mask & (IN_CREATE | IN_MOVED_TO)) != 0);
    }

    // Events of the name heard but not looked at yet.
    bool nameEventsPending() const {
        std::lock_guard lock(mutex);
        return nameInbox && nameInbox->load() != 0;
    }

    // The one decision: where the followed file is, what the path names.
    // `nameFilled`: something took the name since the last look.
    void reconsider(std::uint32_t mask, bool graceOver, bool nameFilled = false) {
        InodeWatch::File file;
        std::filesystem::path at;
        std::optional<FileIdentity> folderWas;
        {
            std::lock_guard lock(mutex);
            if (stopped) return;
            file = watch.file();
            at = path;
            folderWas = folder;
        }
        struct stat now {};
        const bool known = file && sys.fstat(file->get(), &now) == 0;
        const bool named =
            known && now.st_nlink > 0 && !(mask & (IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT));
        struct stat there {};
        const bool something = sys.stat(at.c_str(), &there) == 0;
        if (named && something && FileIdentity::of(there) == FileIdentity::of(now)) {
            endAway();  // at its path (back, if it had left)
            if (mask & (IN_MODIFY | IN_ATTRIB | IN_Q_OVERFLOW)) deliver({Change::changed, at});
            return;
        }
        // A file with links and no name for a moment is asked again.
        std::filesystem::path elsewhere;
        for (int attempt = 0; named && attempt < 3 && elsewhere.empty(); ++attempt)
            elsewhere = currentPathOf(file->get());
        const bool folderKept = folderWas && readFileIdentity(at.parent_path(), sys) == folderWas;
        if (!folderKept) {
            // The folder itself was moved or swapped: the file is followed
            // where it is; what the old path leads to now is another folder's.
            endAway();
            if (!elsewhere.empty()) {
                follow(elsewhere);
            } else {
                lose(file, at);
            }
            return;
        }
        if (something && S_ISREG(there.st_mode) && !attach(at)) {
            // Its name in its folder names another file: replaced at its path.
            endAway();
            deliver({Change::changed, at});
            return;
        }
        if (!elsewhere.empty()) {
            // Left its name, which holds no file: a move, unless a new file
            // takes the name within the grace period. The name must have
            // stayed empty all along: taken and left again in between (the
            // file back for a moment), the period starts anew.
            if (graceOver && !nameFilled && !nameEventsPending()) {
                follow(elsewhere);
            } else if (nameFilled || graceOver) {
                endAway();
                startAway();
            } else {
                startAway();
            }
            return;
        }
        endAway();
        lose(file, at);
    }

    void follow(const std::filesystem::path& where) {
        endAway();
        {
            std::lock_guard lock(mutex);
            path = where;
        }
        watchName(where);
        deliver({Change::moved, where});
    }

    // No file to follow: said once; the name is still watched.
    void lose(const InodeWatch::File& file, const std::filesystem::path& at) {
        if (!file) return;
        InodeWatch dropped;  // after the lock
        {
            std::lock_guard lock(mutex);
            dropped = std::move(watch);
            inbox.reset();
        }
        deliver({Change::deleted, at});
    }

    void startAway() {
        std::lock_guard lock(mutex);
        if (stopped || grace.isPending()) return;
        const std::uint64_t mine = ++graceGeneration;
        std::weak_ptr<Core> weak = weak_from_this();
        grace = queue->submitAfter(renameGrace, [weak, mine] {
            auto self = weak.lock();
            if (!self) return;
            {
                std::lock_guard graceLock(self->mutex);
                if (self->graceGeneration != mine) return;
            }
            self->reconsider(0, true);
        });
    }

    void endAway() {
        std::lock_guard lock(mutex);
        ++graceGeneration;
        grace.cancel();
        grace = {};
    }

    void deliver(const Notice& notice) {
        {
            std::lock_guard lock(mutex);
            if (stopped) return;
        }
        handler(notice);
    }

    std::filesystem::path currentPath() const {
        std::lock_guard lock(mutex);
        return path;
    }

    mutable std::mutex mutex;
    std::filesystem::path path;               // under mutex
    InodeWatch watch;                         // under mutex
    std::shared_ptr<Inbox> inbox;             // under mutex
    InotifyService::Watch nameWatch;          // under mutex
    std::shared_ptr<Inbox> nameInbox;         // under mutex
    std::optional<FileIdentity> folder;       // under mutex: the folder the name was watched in
    TimerHandle grace;                        // under mutex
    std::uint64_t graceGeneration = 0;        // under mutex
    bool stopped = false;                     // under mutex
    const std::shared_ptr<SerialExecutor> queue;
    const Handler handler;
    const SysCalls sys;
};

FileTracker::FileTracker(std::filesystem::path path, std::shared_ptr<SerialExecutor> queue,
                         Handler handler, const SysCalls& sys)
    : core_(std::make_shared<Core>(std::move(path), std::move(queue), std::move(handler), sys)) {
    const auto where = core_->currentPath();
    if (auto error = core_->attach(where)) throw std::system_error(error, where.string());
    core_->watchName(where);
}

FileTracker::~FileTracker() {
    InodeWatch dropped;                // after the lock
    InotifyService::Watch droppedName;  // likewise
    std::lock_guard lock(core_->mutex);
    core_->stopped = true;
    dropped = std::move(core_->watch);
    droppedName = std::move(core_->nameWatch);
    core_->inbox.reset();
    core_->nameInbox.reset();
    core_->grace.cancel();
}

std::filesystem::path FileTracker::path() const {
    return core_->currentPath();
}

InodeWatch::File FileTracker::file() const {
    std::lock_guard lock(core_->mutex);
    return core_->watch.file();
}

}  // namespace larkspin
