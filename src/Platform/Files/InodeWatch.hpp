#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <system_error>

#include "Platform/Files/InotifyService.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Platform/Files/UniqueFd.hpp"

namespace larkspin {

// One watched file: an O_PATH descriptor (no read or write access) and one
// subscription to the process's inotify service. Whoever watches the same
// file under the same name shares both (a document's change source and its
// presenter; two windows on one document), so a watched file costs one
// descriptor and one kernel watch however many parts of the program follow
// it. The name counts because the path of a descriptor read back from
// /proc/self/fd is the name it was opened by; a second hard link gets a
// descriptor of its own.
class InodeWatch {
public:
    // Runs on the inotify service's thread with the OR of one read's events
    // for the file (see InotifyService). Keep it short and hold what it
    // touches weakly: it may run once more while its watch is being dropped.
    using Callback = InotifyService::Callback;

    // The shared descriptor; it stays open for as long as someone holds it (a
    // handler in the middle of an fstat), even after every watch has gone.
    using File = std::shared_ptr<const UniqueFd>;

    InodeWatch() = default;
    InodeWatch(InodeWatch&& other) noexcept;
    InodeWatch& operator=(InodeWatch&& other) noexcept;
    InodeWatch(const InodeWatch&) = delete;
    InodeWatch& operator=(const InodeWatch&) = delete;
    ~InodeWatch() { reset(); }

    // Watches the file `path` names now (opened O_PATH | O_CLOEXEC, or
    // shared). Errors are errno values (EINVAL for a path holding a NUL).
    //
    // The file may be replaced or deleted between the open and the moment
    // the kernel watch is in place, and the events of that moment are lost:
    // a watch made then would follow a file that has already lost its name,
    // kept alive by our own descriptor, and hear nothing ever again. So once
    // subscribed, the held file is checked against the path (same device
    // and inode, a link count above zero) and the watch made again when it
    // is not the file there; after `maxAttempts` such losses the error is
    // EAGAIN. Anything that happens to the file after the check is heard.
    // Opens and checks through `sys`.
    static std::expected<InodeWatch, std::error_code> open(const std::filesystem::path& path,
                                                           Callback callback,
                                                           const SysCalls& sys = realSysCalls());
    static constexpr int maxAttempts = 8;

    // Ends this subscription at once; the kernel watch goes with the last one
    // of the file, the descriptor with the last File held.
    void reset();
    bool isActive() const { return shared_ != nullptr; }
    // The file's descriptor; null once reset.
    File file() const;

    // Files watched right now; for tests.
    static std::size_t watchedFileCount();

private:
    struct Shared;
    struct Registry;
    static Registry& registry();
    static std::expected<InodeWatch, std::error_code> subscribe(
        const std::filesystem::path& path, std::shared_ptr<const Callback> subscriber,
        const SysCalls& sys);
    InodeWatch(std::shared_ptr<Shared> shared, std::uint64_t id)
        : shared_(std::move(shared)), id_(id) {}

    std::shared_ptr<Shared> shared_;
    std::uint64_t id_ = 0;
};

}  // namespace larkspin
