#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "Platform/Text/Date.hpp"
#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// The fingerprint of one state of a file on disk. A plain value: build it
// from its four fields (as a stored version is turned back into a live one),
// from the status of a descriptor that was read (`fromStatus`), or by reading
// the file (`read`).
struct DiskVersion {
    // The file's identity as lower-case hex: st_ino, then st_dev, each as eight
    // bytes little-endian (32 digits). The inode comes first so that the first
    // digits, which log lines show, tell files on one device apart. Empty when
    // unknown.
    std::string resourceIdentifier;
    // The size the file system reports, in bytes.
    std::int64_t size = 0;
    // The content modification time (st_mtim, with nanoseconds).
    Date modificationDate = distantPast();
    // SHA-256 of the bytes that were read, 64 lower-case hex digits.
    std::string contentDigest;

    // All four fields, in this order.
    bool operator==(const DiskVersion&) const = default;

    // Same bytes: size and digest agree (size compared first); identity and
    // date are ignored, so a touched file still has the same content.
    bool hasSameContent(const DiskVersion& other) const {
        return size == other.size && contentDigest == other.contentDigest;
    }

    // The log form: "DiskVersion(id=<12 of the identifier>…, size=<n>,
    // sha256=<12 of the digest>…)".
    std::string description() const;

    // The lower-case hex SHA-256 of `bytes`.
    static std::string digest(std::string_view bytes);

    // The identifier of a file from its status: st_ino then st_dev, each as
    // eight bytes little-endian, in lower-case hex.
    static std::string resourceIdentifierOf(const struct stat& status);

    // The version of the file whose descriptor gave `status` (fstat of the
    // very descriptor that was read, never a second look at the path) and
    // whose bytes, as read, have `contentDigest`.
    static DiskVersion fromStatus(const struct stat& status, std::string contentDigest);

    // Reads the file afresh (through one descriptor, see FileReader) and
    // returns its version. Throws std::system_error with the errno value
    // (std::generic_category), or FileReadError::notRegularFile for a FIFO,
    // socket or device.
    static DiskVersion read(const std::filesystem::path& path,
                            const SysCalls& sys = realSysCalls());
};

}  // namespace larkspin

template <>
struct std::hash<larkspin::DiskVersion> {
    std::size_t operator()(const larkspin::DiskVersion& version) const noexcept;
};
