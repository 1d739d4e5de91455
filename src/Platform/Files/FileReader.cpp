#include "Platform/Files/FileReader.hpp"

#include <errno.h>
#include <fcntl.h>

#include <memory>

#include "Platform/Localization.hpp"
#include "Platform/Text/Sha256.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/Files/FileIdentity.hpp"
#include "Platform/Files/UniqueFd.hpp"

namespace larkspin {

namespace {

class FileReadCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "larkspin.file-read"; }
    std::string message(int value) const override {
        switch (static_cast<FileReadError>(value)) {
            case FileReadError::notRegularFile:
                return L10n::text("load.error.not_regular_file");
        }
        return "unknown file read error";
    }
};

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::error_code kindError(const struct stat& status) {
    if (S_ISREG(status.st_mode)) return {};
    if (S_ISDIR(status.st_mode)) return {EISDIR, std::generic_category()};
    return FileReadError::notRegularFile;
}

bool unchanged(const struct stat& a, const struct stat& b) {
    return FileIdentity::of(a) == FileIdentity::of(b) && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

class DigestOnlySink final : public FileReader::Sink {
public:
    void begin(const struct stat&) override {}
    std::span<char> nextBuffer() override {
        if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(FileReader::chunkSize);
        return {buffer_.get(), FileReader::chunkSize};
    }
    void didRead(std::span<const char>) override {}

private:
    std::unique_ptr<char[]> buffer_;
};

}  // namespace

const std::error_category& fileReadCategory() {
    static const FileReadCategory category;
    return category;
}

std::error_code make_error_code(FileReadError error) {
    return {static_cast<int>(error), fileReadCategory()};
}

std::expected<FileReader::Result, std::error_code> FileReader::read(
    const std::filesystem::path& path, Sink& sink, const SysCalls& sys) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    // The native form holds the path's bytes as they are; only a NUL cannot be
    // passed on (it would name a different file).
    const std::string& native = path.native();
    if (native.find('\0') != std::string::npos) {
        return std::unexpected(std::error_code(EINVAL, std::generic_category()));
    }
    const char* cpath = native.c_str();

    struct stat pathStatus {};
    if (sys.stat(cpath, &pathStatus) != 0) return std::unexpected(lastError());
    if (auto error = kindError(pathStatus)) return std::unexpected(error);

    for (int attempt = 1;; ++attempt) {
        int fd;
        do {
            fd = sys.open(cpath, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return std::unexpected(lastError());
        const UniqueFd descriptor(fd, sys);

        struct stat before {};
        if (sys.fstat(fd, &before) != 0) return std::unexpected(lastError());
        if (auto error = kindError(before)) return std::unexpected(error);

        sink.begin(before);
        Sha256 hash;
        std::int64_t total = 0;
        for (;;) {
            const std::span<char> buffer = sink.nextBuffer();
            const ssize_t count = sys.read(fd, buffer.data(), buffer.size());
            if (count < 0) {
                if (errno == EINTR) continue;
                return std::unexpected(lastError());
            }
            if (count == 0) break;
            const std::span<const char> bytes(buffer.data(), static_cast<std::size_t>(count));
            hash.update({bytes.data(), bytes.size()});
            sink.didRead(bytes);
            total += count;
        }

        struct stat after {};
        if (sys.fstat(fd, &after) != 0) return std::unexpected(lastError());
        const bool settled = unchanged(before, after) && total == after.st_size;
        if (settled || attempt >= maxAttempts) {
            return Result{.status = after,
                          .bytesRead = total,
                          .contentDigest = hash.finishHex(),
                          .settled = settled,
                          .attempts = attempt};
        }
    }
}

std::expected<FileReader::Result, std::error_code> FileReader::read(
    const std::filesystem::path& path, const SysCalls& sys) {
    DigestOnlySink sink;
    return read(path, sink, sys);
}

}  // namespace larkspin
