#include "Storage/DispatchSourceFileChange.hpp"

#include <sys/stat.h>

#include <atomic>
#include <expected>
#include <mutex>
#include <system_error>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/FileIdentity.hpp"
#include "Platform/Files/InodeWatch.hpp"

namespace larkspin {

// Events and reopens are worked out on the queue; stop() (main thread) only
// changes state under the mutex, so it never waits for a job. The mutex is
// never held across a system call on the watched file.
struct DispatchSourceFileChange::Core : std::enable_shared_from_this<Core> {
    // One opened file: its watch and the events not handled yet.
    struct Source {
        InodeWatch watch;  // under the core's mutex
        std::atomic<std::uint32_t> pending{0};
        struct stat last {};  // on the queue only
    };

    Core(std::string p, Handler h, Clock& clock, const SysCalls& s)
        : path(std::move(p)),
          handler(std::move(h)),
          sys(s),
          queue(std::make_unique<SerialExecutor>("dev.corvantel.larkspin.filewatch.vnode", clock)) {
    }

    ~Core() { reopenTimer.cancel(); }

    // Opens and watches the path; the watch reports to this core.
    std::expected<std::shared_ptr<Source>, std::error_code> makeSource() {
        auto source = std::make_shared<Source>();
        std::weak_ptr<Core> weakCore = weak_from_this();
        std::weak_ptr<Source> weakSource = source;
        auto watched = InodeWatch::open(path, [weakCore, weakSource](std::uint32_t mask) {
            auto pendingSource = weakSource.lock();
            if (!pendingSource || pendingSource->pending.fetch_or(mask) != 0) return;
            auto core = weakCore.lock();
            if (!core) return;
            core->queue->submit([weakCore, weakSource] {
                auto self = weakCore.lock();
                auto current = weakSource.lock();
                if (self && current) self->handle(current);
            });
        }, sys);
        if (!watched) return std::unexpected(watched.error());
        if (sys.fstat(watched->file()->get(), &source->last) != 0) {
            return std::unexpected(std::error_code(errno, std::generic_category()));
        }
        source->watch = std::move(*watched);
        return source;
    }

    void handle(const std::shared_ptr<Source>& current) {
        // Taken first, so that later events queue a job again even when this
        // source is not (or no longer) the one watched.
        const std::uint32_t mask = current->pending.exchange(0);
        InodeWatch::File file;
        {
            std::lock_guard lock(mutex);
            if (isStopped || source != current) return;
            file = current->watch.file();
        }
        struct stat now {};
        const bool known = file && sys.fstat(file->get(), &now) == 0;
        // Lost events (queue overflow) count as a write, so that the content
        // is looked at again.
        const bool write = mask & (IN_MODIFY | IN_Q_OVERFLOW);
        const bool extend = write && known && now.st_size > current->last.st_size;
        const bool linkCountChanged = known && now.st_nlink != current->last.st_nlink;
        // A name of the file went while others stay (a hard link kept, the
        // file renamed over): when the path no longer names it, it is lost
        // to this path.
        const bool leftPath = known && linkCountChanged && now.st_nlink < current->last.st_nlink &&
                              !namesFile(now);
        const bool gone = !known || now.st_nlink == 0 || leftPath ||
                          (mask & (IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT));
        const bool attrib = (mask & IN_ATTRIB) && !linkCountChanged;
        const bool link = linkCountChanged && !gone;
        const bool rename = mask & IN_MOVE_SELF;
        if (known) current->last = now;

        std::shared_ptr<Source> dropped;  // released after the lock
        std::lock_guard lock(mutex);
        if (isStopped || source != current) return;
        if (write) deliver(FileChangeEvent::Kind::write);
        if (extend) deliver(FileChangeEvent::Kind::extend);
        if (attrib) deliver(FileChangeEvent::Kind::attrib);
        if (link) deliver(FileChangeEvent::Kind::link);
        if (gone) deliver(FileChangeEvent::Kind::delete_);
        if (rename) deliver(FileChangeEvent::Kind::rename);
        if (gone || rename) {
            dropped = dropSourceLocked();
            reopenAttempts = 0;
            scheduleReopenLocked();
        }
    }

    // Whether the path names the file of `held` (links followed).
    bool namesFile(const struct stat& held) const {
        struct stat there {};
        return sys.stat(path.c_str(), &there) == 0 && FileIdentity::of(there) == FileIdentity::of(held);
    }

    // On the queue: the path may name another file than the one watched, or
    // a file again after the reopens gave up.
    void recheck() {
        std::shared_ptr<Source> current;
        {
            std::lock_guard lock(mutex);
            if (isStopped || !begun) return;
            current = source;
            if (!current) {
                if (reopenTimer.isPending()) return;  // reopening already
                reopenAttempts = 0;
            }
        }
        if (!current) {
            attemptReopen();
            return;
        }
        const InodeWatch::File file = current->watch.file();
        struct stat now {};
        if (!file || sys.fstat(file->get(), &now) != 0 || namesFile(now)) return;
        std::shared_ptr<Source> dropped;  // released after the lock
        std::lock_guard lock(mutex);
        if (isStopped || source != current) return;
        deliver(FileChangeEvent::Kind::delete_);
        dropped = dropSourceLocked();
        reopenAttempts = 0;
        scheduleReopenLocked();
    }

    // On the queue.
    void startNow(const StartHandler& done) {
        {
            std::lock_guard lock(mutex);
            if (isStopped || source) return;
        }
        auto made = makeSource();
        std::shared_ptr<Source> unused;  // released after the lock
        {
            std::lock_guard lock(mutex);
            if (isStopped) {
                if (made) unused = std::move(*made);
                return;
            }
            if (made) {
                source = std::move(*made);
                begun = true;
            }
        }
        if (!done) return;
        if (made) {
            done({});
        } else {
            done(made.error() ? made.error() : std::error_code(EIO, std::generic_category()));
        }
    }

    void scheduleReopenLocked() {
        reopenTimer = queue->submitAfter(reopenDelay, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->attemptReopen();
        });
    }

    void attemptReopen() {
        {
            std::lock_guard lock(mutex);
            if (isStopped || source) return;
            ++reopenAttempts;
        }
        auto made = makeSource();
        std::shared_ptr<Source> unused;  // released after the lock
        std::lock_guard lock(mutex);
        if (isStopped) {
            if (made) unused = std::move(*made);
            return;
        }
        if (made) {
            source = std::move(*made);
            deliver(FileChangeEvent::Kind::reopened);
        } else if (reopenAttempts >= maxReopenAttempts) {
            deliver(FileChangeEvent::Kind::reopenFailed);
        } else {
            scheduleReopenLocked();
        }
    }

    // Returns what the caller releases once the lock is gone.
    std::shared_ptr<Source> stopLocked() {
        isStopped = true;
        reopenTimer.cancel();
        return dropSourceLocked();
    }

    // The subscription goes now, even if a handler still holds the source
    // (and with it the descriptor) for a moment.
    std::shared_ptr<Source> dropSourceLocked() {
        if (source) source->watch.reset();
        return std::exchange(source, nullptr);
    }

    void deliver(FileChangeEvent event) const {
        MainThread::post([handler = handler, event = std::move(event)] {
            LARKSPIN_ASSERT_MAIN_THREAD();
            handler(event);
        });
    }

    const std::string path;
    const Handler handler;
    const SysCalls sys;
    std::mutex mutex;
    std::shared_ptr<Source> source;  // under mutex
    bool isStopped = false;          // under mutex
    bool begun = false;              // under mutex: started watching once
    TimerHandle reopenTimer;         // under mutex
    int reopenAttempts = 0;          // under mutex
    // Last, so that it goes first: a job it still runs finds the core gone.
    const std::unique_ptr<SerialExecutor> queue;
};

DispatchSourceFileChange::DispatchSourceFileChange(std::string path, Handler handler, Clock& clock,
                                                   const SysCalls& sys)
    : path_(path),
      core_(std::make_shared<Core>(std::move(path), std::move(handler), clock, sys)) {}

void DispatchSourceFileChange::start(StartHandler done) {
    core_->queue->submit([weak = std::weak_ptr<Core>(core_), done = std::move(done)] {
        if (auto self = weak.lock()) self->startNow(done);
    });
}

DispatchSourceFileChange::~DispatchSourceFileChange() {
    stop();
}

void DispatchSourceFileChange::recheck() {
    core_->queue->submit([weak = std::weak_ptr<Core>(core_)] {
        if (auto self = weak.lock()) self->recheck();
    });
}

void DispatchSourceFileChange::stop() {
    std::shared_ptr<Core::Source> dropped;  // released after the lock
    std::lock_guard lock(core_->mutex);
    dropped = core_->stopLocked();
}

bool DispatchSourceFileChange::drainForTesting() {
    return larkspin::drainForTesting(*core_->queue);
}

}  // namespace larkspin
