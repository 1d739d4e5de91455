#include "Platform/Files/InodeWatch.hpp"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/Files/FileIdentity.hpp"

namespace larkspin {

namespace {

// A file as a watch knows it: its identity and the name it was opened by.
struct Key {
    FileIdentity identity;
    std::string name;
    auto operator<=>(const Key&) const = default;
};

// The name the kernel gives the file behind `fd` (what /proc/self/fd shows).
std::string nameOf(int fd, const std::filesystem::path& fallback) {
    char link[40];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(link, target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return fallback.native();
    target.resize(static_cast<std::size_t>(length));
    return target;
}

}  // namespace

struct InodeWatch::Shared {
    explicit Shared(Key k, UniqueFd fd)
        : key(std::move(k)), file(std::make_shared<const UniqueFd>(std::move(fd))) {}

    // On the inotify thread.
    void dispatch(std::uint32_t mask);
    void forget();

    const Key key;
    const File file;
    std::mutex mutex;
    InotifyService::Watch watch;  // under mutex
    std::vector<std::pair<std::uint64_t, std::shared_ptr<const Callback>>> subscribers;  // under mutex
    std::uint64_t nextID = 1;  // under mutex
    bool listed = true;        // in the registry; under the registry's mutex
};

// Every file watched now, by key. Lock order: the registry, then a file's
// mutex, then (outside both, when dropping a watch) the inotify service.
struct InodeWatch::Registry {
    std::mutex mutex;
    std::map<Key, std::weak_ptr<Shared>> files;
};

InodeWatch::Registry& InodeWatch::registry() {
    // Never destroyed: watches may be dropped during static destruction.
    static auto* shared = new Registry();
    return *shared;
}

void InodeWatch::Shared::dispatch(std::uint32_t mask) {
    std::vector<std::shared_ptr<const Callback>> calls;
    {
        std::lock_guard lock(mutex);
        calls.reserve(subscribers.size());
        for (const auto& [id, callback] : subscribers) calls.push_back(callback);
    }
    // The kernel has dropped its watch (the file is gone, its file system
    // unmounted): whoever watches the file next starts afresh.
    if (mask & IN_IGNORED) forget();
    for (const auto& callback : calls) (*callback)(mask);
}

void InodeWatch::Shared::forget() {
    auto& files = registry();
    std::lock_guard lock(files.mutex);
    if (!listed) return;
    listed = false;
    const auto entry = files.files.find(key);
    if (entry != files.files.end() && entry->second.lock().get() == this) files.files.erase(entry);
}

InodeWatch::InodeWatch(InodeWatch&& other) noexcept
    : shared_(std::move(other.shared_)), id_(std::exchange(other.id_, 0)) {}

InodeWatch& InodeWatch::operator=(InodeWatch&& other) noexcept {
    if (this != &other) {
        reset();
        shared_ = std::move(other.shared_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

std::expected<InodeWatch, std::error_code> InodeWatch::open(const std::filesystem::path& path,
                                                            Callback callback,
                                                            const SysCalls& sys) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    const std::string& native = path.native();
    if (native.find('\0') != std::string::npos) {
        return std::unexpected(std::error_code(EINVAL, std::generic_category()));
    }
    auto subscriber = std::make_shared<const Callback>(std::move(callback));
    for (int attempt = 1;; ++attempt) {
        auto watched = subscribe(path, subscriber, sys);
        if (!watched) return watched;
        // Subscribed: from here on every change of the held file is heard.
        // It must still be the file at the path, with a name.
        struct stat held {};
        if (sys.fstat(watched->file()->get(), &held) != 0) {
            return std::unexpected(
                std::error_code(errno != 0 ? errno : EIO, std::generic_category()));
        }
        struct stat there {};
        const bool atPath =
            sys.stat(native.c_str(), &there) == 0 && FileIdentity::of(there) == FileIdentity::of(held);
        if (held.st_nlink > 0 && atPath) return watched;
        // Replaced, moved or deleted while the watch was being made: watch
        // what the path names now (a deleted file fails to open again).
        watched->reset();
        if (attempt >= maxAttempts) {
            return std::unexpected(std::error_code(EAGAIN, std::generic_category()));
        }
    }
}

std::expected<InodeWatch, std::error_code> InodeWatch::subscribe(
    const std::filesystem::path& path, std::shared_ptr<const Callback> subscriber,
    const SysCalls& sys) {
    int opened;
    do {
        opened = sys.open(path.c_str(), O_PATH | O_CLOEXEC, 0);
    } while (opened < 0 && errno == EINTR);
    const auto lastError = [] {
        return std::unexpected(std::error_code(errno != 0 ? errno : EIO, std::generic_category()));
    };
    if (opened < 0) return lastError();
    // Closed with close(2) whoever holds it last: the seam need not outlive
    // the watch.
    UniqueFd fd(opened);
    struct stat status {};
    if (sys.fstat(fd.get(), &status) != 0) return lastError();
    Key key{FileIdentity::of(status), nameOf(fd.get(), path)};

    auto& files = registry();
    std::lock_guard lock(files.mutex);
    const auto entry = files.files.find(key);
    if (entry != files.files.end()) {
        if (auto shared = entry->second.lock()) {
            std::lock_guard fileLock(shared->mutex);
            const std::uint64_t id = shared->nextID++;
            shared->subscribers.emplace_back(id, std::move(subscriber));
            return InodeWatch(std::move(shared), id);  // our own descriptor closes
        }
    }
    auto shared = std::make_shared<Shared>(std::move(key), std::move(fd));
    std::weak_ptr<Shared> weak = shared;
    auto watched = InotifyService::shared().watch(shared->file->get(), [weak](std::uint32_t mask) {
        if (auto file = weak.lock()) file->dispatch(mask);
    });
    if (!watched) return std::unexpected(watched.error());
    std::lock_guard fileLock(shared->mutex);
    shared->watch = std::move(*watched);
    const std::uint64_t id = shared->nextID++;
    shared->subscribers.emplace_back(id, std::move(subscriber));
    files.files.insert_or_assign(shared->key, weak);
    return InodeWatch(std::move(shared), id);
}

void InodeWatch::reset() {
    const auto shared = std::exchange(shared_, nullptr);
    if (!shared) return;
    // Released after the locks.
    InotifyService::Watch doomedWatch;
    std::shared_ptr<const Callback> doomedCallback;
    {
        auto& files = registry();
        std::lock_guard lock(files.mutex);
        std::lock_guard fileLock(shared->mutex);
        auto& subscribers = shared->subscribers;
        for (auto it = subscribers.begin(); it != subscribers.end(); ++it) {
            if (it->first == id_) {
                doomedCallback = std::move(it->second);
                subscribers.erase(it);
                break;
            }
        }
        if (subscribers.empty()) {
            doomedWatch = std::move(shared->watch);
            if (shared->listed) {
                shared->listed = false;
                const auto entry = files.files.find(shared->key);
                if (entry != files.files.end() && entry->second.lock() == shared) {
                    files.files.erase(entry);
                }
            }
        }
    }
    id_ = 0;
}

InodeWatch::File InodeWatch::file() const {
    return shared_ ? shared_->file : nullptr;
}

std::size_t InodeWatch::watchedFileCount() {
    auto& files = registry();
    std::lock_guard lock(files.mutex);
    std::size_t count = 0;
    for (const auto& [key, file] : files.files) {
        if (!file.expired()) ++count;
    }
    return count;
}

}  // namespace larkspin
