#include "Platform/Files/SysCalls.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/Files/FileAccessCheck.hpp"

// Each real call checks that it is not made on the main thread while its
// loop runs (debug builds; see FileAccessCheck).
#if defined(LARKSPIN_DEBUG_ASSERTS)
#define CHECKED(name) ::larkspin::FileAccessCheck::check(name)
#else
#define CHECKED(name) \
    do {              \
    } while (0)
#endif

namespace larkspin {

const SysCalls& realSysCalls() {
    static const SysCalls calls{
        .open =
            [](const char* path, int flags, mode_t mode) {
                CHECKED("open");
                return ::open(path, flags, mode);
            },
        .stat =
            [](const char* path, struct stat* status) {
                CHECKED("stat");
                return ::stat(path, status);
            },
        .fstat = [](int fd, struct stat* status) { CHECKED("fstat"); return ::fstat(fd, status); },
        .read =
            [](int fd, void* buffer, std::size_t count) {
                CHECKED("read");
                return ::read(fd, buffer, count);
            },
        .close = [](int fd) { CHECKED("close"); return ::close(fd); },
        .write =
            [](int fd, const void* buffer, std::size_t count) {
                CHECKED("write");
                return ::write(fd, buffer, count);
            },
        .fsync = [](int fd) { CHECKED("fsync"); return ::fsync(fd); },
        .fchmod = [](int fd, mode_t mode) { CHECKED("fchmod"); return ::fchmod(fd, mode); },
        .rename =
            [](const char* from, const char* to) {
                CHECKED("rename");
                return ::rename(from, to);
            },
        .unlink = [](const char* path) { CHECKED("unlink"); return ::unlink(path); },
        .access =
            [](const char* path, int mode) {
                CHECKED("access");
                return ::access(path, mode);
            },
        .fchown =
            [](int fd, uid_t owner, gid_t group) {
                CHECKED("fchown");
                return ::fchown(fd, owner, group);
            },
        .renameNoReplace =
            [](const char* from, const char* to) {
                CHECKED("renameat2");
                return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
            },
        .link = [](const char* from, const char* to) { CHECKED("link"); return ::link(from, to); },
    };
    return calls;
}

}  // namespace larkspin

#undef CHECKED
