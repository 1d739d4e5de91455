#include "Platform/Files/FileTracker.hpp"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string_view>
#include <system_error>

#include "Platform/Files/InotifyService.hpp"
#include "Platform/Files/UniqueFd.hpp"

namespace larkspin {

namespace {

UniqueFd openForTracking(const std::filesystem::path& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

// The path a descriptor's file has now; empty when it has none.
std::filesystem::path currentPathOf(int fd) {
    char link[40];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(link, target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return {};
    target.resize(static_cast<std::size_t>(length));
    if (target.empty() || target.front() != '/') return {};  // not a path (anon inode…)
    return target;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

struct FileTracker::Core : std::enable_shared_from_this<Core> {
    Core(std::filesystem::path p, std::shared_ptr<SerialExecutor> q, Handler h)
        : path(std::move(p)), queue(std::move(q)), handler(std::move(h)) {}

    // Opens and watches `where`; touched on the queue once started.
    std::error_code attach(const std::filesystem::path& where) {
        UniqueFd opened = openForTracking(where);
        if (!opened) return {errno, std::generic_category()};
        auto newInbox = std::make_shared<std::atomic<std::uint32_t>>(0);
        std::weak_ptr<Core> weak = weak_from_this();
        std::weak_ptr<std::atomic<std::uint32_t>> weakInbox = newInbox;
        auto watched =
            InotifyService::shared().watch(opened.get(), [weak, weakInbox](std::uint32_t mask) {
                auto pending = weakInbox.lock();
                auto core = weak.lock();
                if (!pending || !core) return;
                // Events that arrive before the queue got round to the last
                // ones join them (as a dispatch source's pending data does).
                if (pending->fetch_or(mask) != 0) return;
                core->queue->submit([weak, weakInbox] {
                    auto self = weak.lock();
                    auto box = weakInbox.lock();
                    if (self && box && box == self->inbox) self->handle(box->exchange(0));
                });
            });
        if (!watched) return watched.error();
        watch = std::move(*watched);  // the old watch goes before the old descriptor
        fd = std::move(opened);
        inbox = std::move(newInbox);
        return {};
    }

    void detach() {
        watch.reset();
        fd.reset();
        inbox.reset();
    }

    void handle(std::uint32_t mask) {
        if (stopped.load() || !fd) return;
        struct stat now {};
        const bool known = ::fstat(fd.get(), &now) == 0;
        const bool lostLastName =
            !known || now.st_nlink == 0 || (mask & (IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT));

        if (!lostLastName && (mask & IN_MOVE_SELF)) {
            auto moved = currentPathOf(fd.get());
            if (!moved.empty() && moved != currentPath()) {
                setPath(moved);
                deliver({Change::moved, moved});
            }
        }
        if (lostLastName) {
            const auto where = currentPath();
            struct stat there {};
            if (::stat(where.c_str(), &there) == 0 && !(known && sameFile(there, now)) &&
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
        if (!stopped.load()) handler(notice);
    }

    std::filesystem::path currentPath() const {
        std::lock_guard lock(pathMutex);
        return path;
    }
    void setPath(std::filesystem::path moved) {
        std::lock_guard lock(pathMutex);
        path = std::move(moved);
    }

    mutable std::mutex pathMutex;
    std::filesystem::path path;  // under pathMutex
    const std::shared_ptr<SerialExecutor> queue;
    const Handler handler;
    std::atomic<bool> stopped{false};
    // On the queue once started:
    UniqueFd fd;
    InotifyService::Watch watch;
    std::shared_ptr<std::atomic<std::uint32_t>> inbox;
};

FileTracker::FileTracker(std::filesystem::path path, std::shared_ptr<SerialExecutor> queue,
                         Handler handler)
    : core_(std::make_shared<Core>(std::move(path), std::move(queue), std::move(handler))) {
    if (auto error = core_->attach(core_->path))
        throw std::system_error(error, core_->path.string());
}

FileTracker::~FileTracker() {
    core_->stopped.store(true);
    // The watch and descriptor are touched on the queue: let them go there,
    // and wait for it, so that the watch is gone when this returns.
    if (core_->queue->isCurrent()) {
        core_->detach();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    core_->queue->submit([weak = std::weak_ptr<Core>(core_), done] {
        if (auto core = weak.lock()) core->detach();
        done->set_value();
    });
    finished.wait();
}

std::filesystem::path FileTracker::path() const {
    return core_->currentPath();
}

}  // namespace larkspin
