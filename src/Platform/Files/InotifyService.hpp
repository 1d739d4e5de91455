#pragma once

#include <sys/inotify.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace larkspin {

// The process's one inotify descriptor, read on a thread of its own. The
// kernel gives each inotify instance one watch per inode (and each user only
// a few instances), so watches are shared: every Watch of one file is a
// subscription to the same kernel watch, which is removed when its last
// subscription goes.
//
// Every watch is made with `eventMask`, so subscribers never change each
// other's mask. A callback gets the events of one read for its file OR'd
// together, plus IN_IGNORED (the kernel dropped the watch), IN_UNMOUNT, and
// IN_Q_OVERFLOW (events were lost; sent to every subscriber).
class InotifyService {
public:
    static constexpr std::uint32_t eventMask =
        IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF;
    // What a watch of one name in a folder hears: the name made, moved in,
    // moved away or removed, and the folder's own move or removal.
    static constexpr std::uint32_t nameMask =
        IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_MOVE_SELF | IN_DELETE_SELF;

    // Runs on the service's thread. Keep it short (post or submit the real
    // work). It may run once more while or after its Watch is destroyed, so
    // it holds what it touches weakly.
    using Callback = std::function<void(std::uint32_t mask)>;

    // One subscription; destroying it (or reset()) unsubscribes.
    class Watch {
    public:
        Watch() = default;
        Watch(Watch&& other) noexcept;
        Watch& operator=(Watch&& other) noexcept;
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        ~Watch() { reset(); }

        void reset();
        bool isActive() const { return service_ != nullptr; }

    private:
        friend class InotifyService;
        Watch(InotifyService* service, int wd, std::uint64_t id)
            : service_(service), wd_(wd), id_(id) {}

        InotifyService* service_ = nullptr;
        int wd_ = -1;
        std::uint64_t id_ = 0;
    };

    // The process-wide service; its thread starts with the first watch and
    // lives until the process exits.
    static InotifyService& shared();

    // Watches the file that `fd` refers to (an O_PATH descriptor will do).
    // The watch is added through /proc/self/fd/<fd>, so it is on that very
    // inode, whatever its path names by now. Errors are errno values
    // (ENOSPC: the user's watches are used up; EMFILE: no inotify instance).
    std::expected<Watch, std::error_code> watch(int fd, Callback callback);

    // Watches the entry `name` of the folder `folder` (links followed),
    // whatever file it names from one moment to the next: the callback gets
    // `nameMask`'s events for that name and for the folder itself (plus
    // IN_IGNORED, IN_UNMOUNT, IN_Q_OVERFLOW). Holds no descriptor. Errors as
    // for watch(); ENOTDIR when `folder` is no folder.
    std::expected<Watch, std::error_code> watchName(const std::filesystem::path& folder,
                                                    std::string name, Callback callback);

    // Kernel watches currently held; for tests.
    std::size_t kernelWatchCount() const;

private:
    InotifyService() = default;
    void remove(int wd, std::uint64_t id);
    void run();

    struct Subscriber {
        std::uint64_t id;
        std::shared_ptr<const Callback> callback;
        std::string name;  // a folder's entry; empty for a file's own events
    };
    std::expected<Watch, std::error_code> add(const char* path, std::uint32_t mask,
                                              Subscriber subscriber);

    mutable std::mutex mutex_;
    int fd_ = -1;
    std::uint64_t nextId_ = 1;
    std::unordered_map<int, std::vector<Subscriber>> watches_;
};

}  // namespace larkspin
