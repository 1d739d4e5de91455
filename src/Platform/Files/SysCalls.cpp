#include "Platform/Files/SysCalls.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspin {

const SysCalls& realSysCalls() {
    static const SysCalls calls{
        .open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
        .stat = [](const char* path, struct stat* status) { return ::stat(path, status); },
        .fstat = [](int fd, struct stat* status) { return ::fstat(fd, status); },
        .read = [](int fd, void* buffer, std::size_t count) { return ::read(fd, buffer, count); },
        .close = [](int fd) { return ::close(fd); },
        .write = [](int fd, const void* buffer, std::size_t count) { return ::write(fd, buffer, count); },
        .fsync = [](int fd) { return ::fsync(fd); },
        .fchmod = [](int fd, mode_t mode) { return ::fchmod(fd, mode); },
        .rename = [](const char* from, const char* to) { return ::rename(from, to); },
        .unlink = [](const char* path) { return ::unlink(path); },
        .access = [](const char* path, int mode) { return ::access(path, mode); },
        .fchown = [](int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); },
        .renameNoReplace =
            [](const char* from, const char* to) {
                return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
            },
        .link = [](const char* from, const char* to) { return ::link(from, to); },
    };
    return calls;
}

}  // namespace larkspin
