#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace larkspin {

class NotificationCenter;

// A posted notification: its name and the object that posted it. There is no
// user information; observers read what changed from the sender.
struct Notification {
    std::string_view name;
    const void* sender;
};

// Keeps an observer registered for as long as it lives; destroying or resetting
// it removes the observer, also while a notification is being delivered.
class NotificationObserver {
public:
    NotificationObserver() = default;
    NotificationObserver(NotificationObserver&&) noexcept;
    NotificationObserver& operator=(NotificationObserver&&) noexcept;
    NotificationObserver(const NotificationObserver&) = delete;
    NotificationObserver& operator=(const NotificationObserver&) = delete;
    ~NotificationObserver();

    void reset();
    explicit operator bool() const { return id_ != 0; }

private:
    friend class NotificationCenter;
    NotificationObserver(std::weak_ptr<NotificationCenter> center, std::uint64_t id)
        : center_(std::move(center)), id_(id) {}
    std::weak_ptr<NotificationCenter> center_;
    std::uint64_t id_ = 0;
};

// The in-process notification centre of the main thread. Observers run on the
// main thread: a post made there delivers synchronously, in registration order,
// before post() returns; a post from another thread is carried to the main
// thread and delivered there on a later turn.
class NotificationCenter : public std::enable_shared_from_this<NotificationCenter> {
public:
    using Callback = std::function<void(const Notification&)>;

    static std::shared_ptr<NotificationCenter> create();

    // Observes `name`; when `sender` is not null, only posts by that sender.
    [[nodiscard]] NotificationObserver addObserver(std::string name, const void* sender,
                                                   Callback callback);
    void post(std::string_view name, const void* sender);

    std::size_t observerCountForTesting() const;

private:
    NotificationCenter() = default;
    struct Entry {
        std::uint64_t id;
        std::string name;
        const void* sender;
        std::shared_ptr<Callback> callback;
    };
    friend class NotificationObserver;
    void remove(std::uint64_t id);
    void deliver(std::string_view name, const void* sender);

    std::vector<Entry> entries_;
    std::uint64_t nextID_ = 1;
};

}  // namespace larkspin
