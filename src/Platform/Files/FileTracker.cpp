#include "Platform/Files/FileTracker.hpp"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string_view>
#include <system_error>

#include "Platform/Files/InodeWatch.hpp"

namespace larkspin {

std::filesystem::path currentPathOf(int fd) {
    char link[40];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(link, target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return {};
    target.resize(static_cast<std::size_t>(length));
    if (target.empty() || target.front() != '/') return {};  // not a path (anon inode…)
    // The name the file had when its last name went: no place to follow.
    constexpr std::string_view deleted = " (deleted)";
    if (target.ends_with(deleted)) return {};
    return target;
}

// Notices are worked out on the queue; the destructor (any thread) only takes
// the watch away, under the mutex, so it never waits for a job.
struct FileTracker::Core : std::enable_shared_from_this<Core> {
    using Inbox = std::atomic<std::uint32_t>;

    Core(std::filesystem::path p, std::shared_ptr<SerialExecutor> q, Handler h, const SysCalls& s)
        : path(std::move(p)), queue(std::move(q)), handler(std::move(h)), sys(s) {}

    // Watches `where` from now on, in place of the file watched so far.
    std::error_code attach(const std::filesystem::path& where) {
        auto newInbox = std::make_shared<Inbox>(0);
        std::weak_ptr<Core> weak = weak_from_this();
        std::weak_ptr<Inbox> weakInbox = newInbox;
        auto watched = InodeWatch::open(where, [weak, weakInbox](std::uint32_t mask) {
            auto pending = weakInbox.lock();
            auto core = weak.lock();
            if (!pending || !core) return;
            // Events that arrive before the queue got round to the last
            // ones join them (as a dispatch source's pending data does).
            if (pending->fetch_or(mask) != 0) return;
            core->queue->submit([weak, weakInbox] {
                auto self = weak.lock();
                auto box = weakInbox.lock();
                if (self && box) self->handle(box);
            });
        }, sys);
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

    void detach() {
        InodeWatch dropped;
        std::lock_guard lock(mutex);
        dropped = std::move(watch);
        inbox.reset();
    }

    void handle(const std::shared_ptr<Inbox>& box) {
        // Taken first, so that later events queue a job again even when this
        // watch is not (or no longer) the one in use.
        const std::uint32_t mask = box->exchange(0);
        InodeWatch::File file;
        {
            std::lock_guard lock(mutex);
            if (stopped || box != inbox) return;
            file = watch.file();
        }
        if (!file) return;
        struct stat now {};
        const bool known = sys.fstat(file->get(), &now) == 0;
        const bool lostLastName =
            !known || now.st_nlink == 0 || (mask & (IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT));

        if (!lostLastName && (mask & IN_MOVE_SELF)) {
            auto moved = currentPathOf(file->get());
            if (!moved.empty() && moved != currentPath()) {
                setPath(moved);
                deliver({Change::moved, moved});
            }
        }
        if (lostLastName) {
            const auto where = currentPath();
            struct stat there {};
            if (sys.stat(where.c_str(), &there) == 0 && !(known && sameFile(there, now)) &&
                !attach(where)) {
                deliver({Change::changed, where});  // replaced: follow the new file
            } else {
                detach();
                deliver({Change::deleted, where});
            }
            return;
        }
        if (mask & (IN_MODIFY | IN_ATTRIB | IN_Q_OVERFLOW))
            deliver({Change::changed, currentPath()});
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
    void setPath(std::filesystem::path moved) {
        std::lock_guard lock(mutex);
        path = std::move(moved);
    }

    mutable std::mutex mutex;
    std::filesystem::path path;    // under mutex
    InodeWatch watch;              // under mutex
    std::shared_ptr<Inbox> inbox;  // under mutex
    bool stopped = false;          // under mutex
    const std::shared_ptr<SerialExecutor> queue;
    const Handler handler;
    const SysCalls sys;
};

FileTracker::FileTracker(std::filesystem::path path, std::shared_ptr<SerialExecutor> queue,
                         Handler handler, const SysCalls& sys)
    : core_(std::make_shared<Core>(std::move(path), std::move(queue), std::move(handler), sys)) {
    if (auto error = core_->attach(core_->currentPath()))
        throw std::system_error(error, core_->currentPath().string());
}

FileTracker::~FileTracker() {
    InodeWatch dropped;  // after the lock
    std::lock_guard lock(core_->mutex);
    core_->stopped = true;
    dropped = std::move(core_->watch);
    core_->inbox.reset();
}

std::filesystem::path FileTracker::path() const {
    return core_->currentPath();
}

InodeWatch::File FileTracker::file() const {
    std::lock_guard lock(core_->mutex);
    return core_->watch.file();
}

}  // namespace larkspin
