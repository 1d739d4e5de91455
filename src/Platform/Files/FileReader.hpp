#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>

#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Why a file was not read, beyond the errno values (which come as
// std::generic_category codes).
enum class FileReadError {
    // A FIFO, socket or device: never read, since reading one may block for
    // ever or never end.
    notRegularFile = 1,
};
const std::error_category& fileReadCategory();
std::error_code make_error_code(FileReadError error);

// Reads a regular file through one descriptor, hashing the bytes as they
// arrive and handing them to a sink, so that a caller keeps only what it
// needs (everything, a prefix, or nothing but the digest).
//
// - The path is checked with stat first, so that a FIFO, socket or device is
//   never opened; the descriptor is opened O_RDONLY | O_CLOEXEC | O_NOCTTY |
//   O_NONBLOCK (a FIFO swapped in after the check cannot block the open) and
//   checked again with fstat. A directory gives EISDIR.
// - The result's status is fstat of that same descriptor after the last byte,
//   so it describes the file that was read even if the path is replaced
//   meanwhile.
// - If the file changed while it was read (size, modification time or
//   identity differ between the fstat before and after, or the byte count is
//   not the size), it is read again, up to `maxAttempts` reads in all. The
//   last read is returned with `settled` false when it never held still.
// - Reads go through the page cache like any other read: it is coherent with
//   every local writer, so a normal read sees the latest bytes; bypassing it
//   (O_DIRECT) or evicting it would only make loads, re-reads and save
//   checks slower for this program and for others.
class FileReader {
public:
    static constexpr int maxAttempts = 3;
    // The read size sinks are expected to offer: big enough to keep system
    // calls rare, small enough that a chunk is still in the processor's cache
    // when the sink looks at it after hashing.
    static constexpr std::size_t chunkSize = 256 * 1024;

    class Sink {
    public:
        virtual ~Sink() = default;
        // A read starts; `status` is fstat of the opened descriptor. Forget
        // whatever an earlier attempt handed over.
        virtual void begin(const struct stat& status) = 0;
        // Where the next read() may write; must not be empty.
        virtual std::span<char> nextBuffer() = 0;
        // The bytes that read() just put at the start of the last buffer,
        // already hashed.
        virtual void didRead(std::span<const char> bytes) = 0;
    };

    struct Result {
        struct stat status {};       // fstat of the descriptor after the read
        std::int64_t bytesRead = 0;  // bytes handed to the sink
        std::string contentDigest;   // SHA-256 of those bytes, lower-case hex
        bool settled = true;         // false: the file kept changing
        int attempts = 1;
    };

    // Errors are errno values in std::generic_category (EINVAL for a path
    // holding a NUL byte, which no system call could name), or
    // FileReadError::notRegularFile.
    static std::expected<Result, std::error_code> read(const std::filesystem::path& path,
                                                       Sink& sink,
                                                       const SysCalls& sys = realSysCalls());
    // The same, keeping nothing but the digest.
    static std::expected<Result, std::error_code> read(const std::filesystem::path& path,
                                                       const SysCalls& sys = realSysCalls());
};

}  // namespace larkspin

template <>
struct std::is_error_code_enum<larkspin::FileReadError> : std::true_type {};
