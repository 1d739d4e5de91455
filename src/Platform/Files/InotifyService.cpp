#include "Platform/Files/InotifyService.hpp"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <unistd.h>

#include <exception>
#include <thread>
#include <utility>

#include "Platform/Text/ErrorText.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

InotifyService::Watch::Watch(Watch&& other) noexcept
    : service_(std::exchange(other.service_, nullptr)),
      wd_(std::exchange(other.wd_, -1)),
      id_(std::exchange(other.id_, 0)) {}

InotifyService::Watch& InotifyService::Watch::operator=(Watch&& other) noexcept {
    if (this != &other) {
        reset();
        service_ = std::exchange(other.service_, nullptr);
        wd_ = std::exchange(other.wd_, -1);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void InotifyService::Watch::reset() {
    if (auto* service = std::exchange(service_, nullptr)) service->remove(wd_, id_);
}

InotifyService& InotifyService::shared() {
    // Never destroyed: its thread reads for as long as the process lives.
    static auto* service = new InotifyService();
    return *service;
}

std::expected<InotifyService::Watch, std::error_code> InotifyService::watch(int fd,
                                                                            Callback callback) {
    char path[40];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return add(path, eventMask,
               {0, std::make_shared<const Callback>(std::move(callback)), std::string()});
}

std::expected<InotifyService::Watch, std::error_code> InotifyService::watchName(
    const std::filesystem::path& folder, std::string name, Callback callback) {
    if (name.empty() || name.find('/') != std::string::npos) {
        return std::unexpected(std::error_code(EINVAL, std::generic_category()));
    }
    return add(folder.c_str(), nameMask | IN_ONLYDIR,
               {0, std::make_shared<const Callback>(std::move(callback)), std::move(name)});
}

std::expected<InotifyService::Watch, std::error_code> InotifyService::add(const char* path,
                                                                          std::uint32_t mask,
                                                                          Subscriber subscriber) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        const int created = inotify_init1(IN_CLOEXEC);
        if (created < 0) return std::unexpected(ErrorText::fromErrno(errno));
        fd_ = created;
        std::thread(&InotifyService::run, this).detach();
    }
    const int wd = inotify_add_watch(fd_, path, mask);
    if (wd < 0) return std::unexpected(ErrorText::fromErrno(errno));
    subscriber.id = nextId_++;
    const std::uint64_t id = subscriber.id;
    watches_[wd].push_back(std::move(subscriber));
    return Watch(this, wd, id);
}

void InotifyService::remove(int wd, std::uint64_t id) {
    std::shared_ptr<const Callback> doomed;  // released after the lock
    std::lock_guard lock(mutex_);
    const auto entry = watches_.find(wd);
    if (entry == watches_.end()) return;  // the kernel dropped it already
    auto& subscribers = entry->second;
    for (auto it = subscribers.begin(); it != subscribers.end(); ++it) {
        if (it->id == id) {
            doomed = std::move(it->callback);
            subscribers.erase(it);
            break;
        }
    }
    if (subscribers.empty()) {
        watches_.erase(entry);
        inotify_rm_watch(fd_, wd);
    }
}

std::size_t InotifyService::kernelWatchCount() const {
    std::lock_guard lock(mutex_);
    return watches_.size();
}

void InotifyService::run() {
    pthread_setname_np(pthread_self(), "inotify");
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = ::read(fd_, buffer, sizeof buffer);
        if (length < 0) {
            if (errno == EINTR) continue;
            AppLog::document.fault("inotify 读取失败，停止监视文件：%{public}s",
                                   ErrorText::describe(ErrorText::fromErrno(errno)));
            return;
        }

        // One mask per watch for this read, in the order the watches first
        // appear: the watched file's (or folder's) own events, and those of
        // each entry of a folder.
        struct Events {
            int wd;
            std::uint32_t own = 0;
            std::vector<std::pair<std::string, std::uint32_t>> named;
        };
        std::vector<Events> masks;
        bool overflow = false;
        for (const char* at = buffer; at < buffer + length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                overflow = true;
                continue;
            }
            auto found = masks.begin();
            while (found != masks.end() && found->wd != event->wd) ++found;
            if (found == masks.end()) found = masks.insert(masks.end(), Events{event->wd});
            const std::string name = event->len > 0 ? std::string(event->name) : std::string();
            if (name.empty()) {
                found->own |= event->mask;
                continue;
            }
            auto entry = found->named.begin();
            while (entry != found->named.end() && entry->first != name) ++entry;
            if (entry == found->named.end()) {
                found->named.emplace_back(name, event->mask);
            } else {
                entry->second |= event->mask;
            }
        }

        std::vector<std::pair<std::shared_ptr<const Callback>, std::uint32_t>> calls;
        {
            std::lock_guard lock(mutex_);
            if (overflow) {
                for (const auto& [wd, subscribers] : watches_) {
                    for (const auto& s : subscribers) calls.emplace_back(s.callback, IN_Q_OVERFLOW);
                }
            }
            for (const auto& events : masks) {
                const auto entry = watches_.find(events.wd);
                if (entry == watches_.end()) continue;  // removed meanwhile
                for (const auto& s : entry->second) {
                    std::uint32_t mask = events.own;
                    for (const auto& [name, named] : events.named) {
                        if (!s.name.empty() && name == s.name) mask |= named;
                    }
                    if (mask != 0) calls.emplace_back(s.callback, mask);
                }
                // The kernel has dropped this watch (file gone, file system
                // unmounted): forget it, so that nothing removes it again.
                if (events.own & IN_IGNORED) watches_.erase(entry);
            }
        }
        for (auto& [callback, mask] : calls) {
            try {
                (*callback)(mask);
            } catch (const std::exception& error) {
                AppLog::document.fault("文件监视回调抛出异常：%{private}s", error.what());
            }
        }
    }
}

}  // namespace larkspin
