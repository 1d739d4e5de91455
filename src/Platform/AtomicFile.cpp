#include "Platform/AtomicFile.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "Platform/Uuid.hpp"

namespace larkspin {

namespace {
std::error_code lastError() { return {errno, std::generic_category()}; }

struct FdGuard {
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0) ::close(fd);
    }
};
}  // namespace

std::error_code writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                    mode_t newFileMode) {
    const auto folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const auto temp = folder / ("." + target.filename().string() + ".orvik-" + makeUUID() + ".tmp");

    mode_t mode = newFileMode;
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) mode = existing.st_mode & 07777;

    FdGuard file;
    file.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file.fd < 0) return lastError();

    auto fail = [&](std::error_code ec) {
        ::unlink(temp.c_str());
        return ec;
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(file.fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(lastError());
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(file.fd) != 0) return fail(lastError());
    if (::fchmod(file.fd, mode) != 0) return fail(lastError());
    if (::close(std::exchange(file.fd, -1)) != 0) return fail(lastError());
    if (::rename(temp.c_str(), target.c_str()) != 0) return fail(lastError());

    FdGuard dir;
    dir.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd >= 0) ::fsync(dir.fd);  // best effort: the rename itself has happened
    return {};
}

}  // namespace larkspin
