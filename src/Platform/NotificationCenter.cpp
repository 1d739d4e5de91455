#include "Platform/NotificationCenter.hpp"

#include <algorithm>
#include <utility>

#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"

namespace larkspin {

NotificationObserver::NotificationObserver(NotificationObserver&& other) noexcept
    : center_(std::move(other.center_)), id_(std::exchange(other.id_, 0)) {}

NotificationObserver& NotificationObserver::operator=(NotificationObserver&& other) noexcept {
    if (this != &other) {
        reset();
        center_ = std::move(other.center_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

NotificationObserver::~NotificationObserver() { reset(); }

void NotificationObserver::reset() {
    if (id_ == 0) return;
    if (auto center = center_.lock()) center->remove(id_);
    id_ = 0;
    center_.reset();
}

std::shared_ptr<NotificationCenter> NotificationCenter::create() {
    return std::shared_ptr<NotificationCenter>(new NotificationCenter());
}

NotificationObserver NotificationCenter::addObserver(std::string name, const void* sender,
                                                     Callback callback) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const std::uint64_t id = nextID_++;
    entries_.push_back(Entry{id, std::move(name), sender,
                             std::make_shared<Callback>(std::move(callback))});
    return NotificationObserver(weak_from_this(), id);
}

void NotificationCenter::remove(std::uint64_t id) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    std::erase_if(entries_, [id](const Entry& e) { return e.id == id; });
}

void NotificationCenter::post(std::string_view name, const void* sender) {
    if (!MainThread::isMainThread()) {
        AppLog::document.error("通知 %{public}s 不在主线程发出，改为在主线程投递", name);
        MainThread::post([weak = weak_from_this(), name = std::string(name), sender] {
            if (auto center = weak.lock()) center->deliver(name, sender);
        });
        return;
    }
    deliver(name, sender);
}

void NotificationCenter::deliver(std::string_view name, const void* sender) {
    // Snapshot the matching observers: one that registers during delivery is
    // not called for this post, and one removed during delivery is skipped.
    std::vector<std::pair<std::uint64_t, std::shared_ptr<Callback>>> targets;
    for (const auto& e : entries_) {
        if (e.name == name && (e.sender == nullptr || e.sender == sender)) {
            targets.emplace_back(e.id, e.callback);
        }
    }
    const Notification notification{name, sender};
    for (const auto& target : targets) {
        const std::uint64_t id = target.first;
        const bool stillRegistered =
            std::any_of(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
        if (stillRegistered) (*target.second)(notification);
    }
}

std::size_t NotificationCenter::observerCountForTesting() const { return entries_.size(); }

}  // namespace larkspin
