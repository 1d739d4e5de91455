#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <system_error>

#include "Platform/Files/InotifyService.hpp"
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
    static std::expected<InodeWatch, std::error_code> open(const std::filesystem::path& path,
                                                           Callback callback);

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
    InodeWatch(std::shared_ptr<Shared> shared, std::uint64_t id)
        : shared_(std::move(shared)), id_(id) {}

    std::shared_ptr<Shared> shared_;
    std::uint64_t id_ = 0;
};

}  // namespace larkspin
