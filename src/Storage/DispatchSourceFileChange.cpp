#include "Storage/DispatchSourceFileChange.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <expected>
#include <future>
#include <system_error>

#include "Platform/Files/InotifyService.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/UniqueFd.hpp"

namespace larkspin {

namespace {

// Opens a path for event notification only.
std::expected<UniqueFd, std::error_code> openDescriptor(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        return std::unexpected(std::error_code(EINVAL, std::generic_category()));
    }
    int fd;
    do {
        fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return std::unexpected(std::error_code(errno != 0 ? errno : EIO, std::generic_category()));
    return UniqueFd(fd);
}

}  // namespace

struct DispatchSourceFileChange::Core : std::enable_shared_from_this<Core> {
    // One opened file: its descriptor, its watch and the events not handled yet.
    struct Source {
        UniqueFd fd;
        InotifyService::Watch watch;  // declared after fd: removed before the close
        std::atomic<std::uint32_t> pending{0};
        struct stat last {};
    };

    Core(std::string p, Handler h, Clock& clock)
        : path(std::move(p)),
          handler(std::move(h)),
          queue(std::make_unique<SerialExecutor>("dev.corvantel.larkspin.filewatch.vnode", clock)) {
    }

    ~Core() { reopenTimer.cancel(); }

    std::expected<std::shared_ptr<Source>, std::error_code> makeSource(UniqueFd fd) {
        auto source = std::make_shared<Source>();
        source->fd = std::move(fd);
        if (::fstat(source->fd.get(), &source->last) != 0) {
            return std::unexpected(std::error_code(errno, std::generic_category()));
        }
        std::weak_ptr<Core> weakCore = weak_from_this();
        std::weak_ptr<Source> weakSource = source;
        auto watched = InotifyService::shared().watch(
            source->fd.get(), [weakCore, weakSource](std::uint32_t mask) {
                auto pendingSource = weakSource.lock();
                if (!pendingSource || pendingSource->pending.fetch_or(mask) != 0) return;
                auto core = weakCore.lock();
                if (!core) return;
                core->queue->submit([weakCore, weakSource] {
                    auto self = weakCore.lock();
                    auto current = weakSource.lock();
                    if (self && current && self->source == current) {
                        self->handle(current->pending.exchange(0));
                    }
                });
            });
        if (!watched) return std::unexpected(watched.error());
        source->watch = std::move(*watched);
        return source;
    }

    void handle(std::uint32_t mask) {
        Source& current = *source;
        struct stat now {};
        const bool known = ::fstat(current.fd.get(), &now) == 0;
        // Lost events (queue overflow) count as a write, so that the content
        // is looked at again.
        const bool write = mask & (IN_MODIFY | IN_Q_OVERFLOW);
        const bool extend = write && known && now.st_size > current.last.st_size;
        const bool linkCountChanged = known && now.st_nlink != current.last.st_nlink;
        const bool gone =
            !known || now.st_nlink == 0 || (mask & (IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT));
        const bool attrib = (mask & IN_ATTRIB) && !linkCountChanged;
        const bool link = linkCountChanged && !gone;
        const bool rename = mask & IN_MOVE_SELF;
        if (known) current.last = now;

        if (write) deliver(FileChangeEvent::Kind::write);
        if (extend) deliver(FileChangeEvent::Kind::extend);
        if (attrib) deliver(FileChangeEvent::Kind::attrib);
        if (link) deliver(FileChangeEvent::Kind::link);
        if (gone) deliver(FileChangeEvent::Kind::delete_);
        if (rename) deliver(FileChangeEvent::Kind::rename);
        if (gone || rename) {
            dropSource();
            reopenAttempts = 0;
            scheduleReopen();
        }
    }

    void scheduleReopen() {
        reopenTimer = queue->submitAfter(reopenDelay, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->attemptReopen();
        });
    }

    void attemptReopen() {
        if (isStopped || source) return;
        ++reopenAttempts;
        if (auto fd = openDescriptor(path)) {
            if (auto made = makeSource(std::move(*fd))) {
                source = std::move(*made);
                deliver(FileChangeEvent::Kind::reopened);
                return;
            }
        }
        if (reopenAttempts >= maxReopenAttempts) {
            deliver(FileChangeEvent::Kind::reopenFailed);
        } else {
            scheduleReopen();
        }
    }

    void stopHere() {
        isStopped = true;
        dropSource();
        reopenTimer.cancel();
    }

    // The watch goes now, even if the inotify thread still holds the source
    // for a moment.
    void dropSource() {
        if (source) source->watch.reset();
        source.reset();
    }

    void deliver(FileChangeEvent event) const {
        MainThread::post([handler = handler, event = std::move(event)] {
            LARKSPIN_ASSERT_MAIN_THREAD();
            handler(event);
        });
    }

    const std::string path;
    const Handler handler;
    // On the queue only, once started:
    std::shared_ptr<Source> source;
    int reopenAttempts = 0;
    bool isStopped = false;
    TimerHandle reopenTimer;
    // Last, so that it goes first: a job it still runs finds the core gone.
    const std::unique_ptr<SerialExecutor> queue;
};

DispatchSourceFileChange::DispatchSourceFileChange(std::string path, Handler handler, Clock& clock)
    : path_(path), core_(std::make_shared<Core>(std::move(path), std::move(handler), clock)) {
    auto fd = openDescriptor(path_);
    if (!fd) throw std::system_error(fd.error(), path_);
    auto made = core_->makeSource(std::move(*fd));
    if (!made) throw std::system_error(made.error(), path_);
    core_->source = std::move(*made);  // before any job can run
}

DispatchSourceFileChange::~DispatchSourceFileChange() {
    stop();
}

void DispatchSourceFileChange::stop() {
    if (core_->queue->isCurrent()) {
        core_->stopHere();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    core_->queue->submit([weak = std::weak_ptr<Core>(core_), done] {
        if (auto core = weak.lock()) core->stopHere();
        done->set_value();
    });
    finished.wait();
}

void DispatchSourceFileChange::drainForTesting() {
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    core_->queue->submit([done] { done->set_value(); });
    finished.wait();
}

}  // namespace larkspin
