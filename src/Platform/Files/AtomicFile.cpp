#include "Platform/Files/AtomicFile.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "Platform/Text/Uuid.hpp"

namespace larkspin {

namespace {
std::error_code lastError() { return {errno, std::generic_category()}; }

struct FdGuard {
    const SysCalls& sys;
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0) sys.close(fd);
    }
};
}  // namespace

std::error_code writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                    mode_t newFileMode, const SysCalls& sys) {
    const auto folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const auto temp = folder / ("." + target.filename().string() + ".orvik-" + makeUUID() + ".tmp");

    mode_t mode = newFileMode;
    struct stat existing {};
    if (sys.stat(target.c_str(), &existing) == 0) mode = existing.st_mode & 07777;

    FdGuard file{sys};
    file.fd = sys.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file.fd < 0) return lastError();

    auto fail = [&](std::error_code ec) {
        sys.unlink(temp.c_str());
        return ec;
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = sys.write(file.fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(lastError());
        }
        written += static_cast<std::size_t>(n);
    }
    if (sys.fsync(file.fd) != 0) return fail(lastError());
    if (sys.fchmod(file.fd, mode) != 0) return fail(lastError());
    if (sys.close(std::exchange(file.fd, -1)) != 0) return fail(lastError());
    if (sys.rename(temp.c_str(), target.c_str()) != 0) return fail(lastError());

    FdGuard dir{sys};
    dir.fd = sys.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dir.fd >= 0) sys.fsync(dir.fd);  // best effort: the rename itself has happened
    return {};
}

}  // namespace larkspin
