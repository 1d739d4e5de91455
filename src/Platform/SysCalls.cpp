#include "Platform/SysCalls.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace larkspin {

const SysCalls& realSysCalls() {
    static const SysCalls calls{
        .open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
        .stat = [](const char* path, struct stat* status) { return ::stat(path, status); },
        .fstat = [](int fd, struct stat* status) { return ::fstat(fd, status); },
        .read = [](int fd, void* buffer, std::size_t count) { return ::read(fd, buffer, count); },
        .close = [](int fd) { return ::close(fd); },
    };
    return calls;
}

}  // namespace larkspin
