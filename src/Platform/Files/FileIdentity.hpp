#pragma once

#include <sys/stat.h>

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Which file something is: the device and inode a stat found. Two paths, two
// descriptors or a record and a path are of one file exactly when their
// identities are equal; this is the program's one test of it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    static FileIdentity of(const struct stat& status) {
        return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    }
    auto operator<=>(const FileIdentity&) const = default;
};

// The identity of what `path` names (links followed), or none when it cannot
// be looked at. Touches the disk: never on the main thread.
inline std::optional<FileIdentity> readFileIdentity(const std::filesystem::path& path,
                                                    const SysCalls& sys = realSysCalls()) {
    struct stat status {};
    if (sys.stat(path.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity::of(status);
}

// The identity of the file behind `fd`, or none.
inline std::optional<FileIdentity> readFileIdentity(int fd, const SysCalls& sys = realSysCalls()) {
    struct stat status {};
    if (sys.fstat(fd, &status) != 0) return std::nullopt;
    return FileIdentity::of(status);
}

}  // namespace larkspin
