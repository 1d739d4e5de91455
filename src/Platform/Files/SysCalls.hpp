#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>

namespace larkspin {

// The system calls that file code makes, gathered so that tests can make one
// of them fail (EACCES, EIO…) without changing the file system — the tests run
// as root, where permissions cannot refuse anything. Every member behaves like
// the call it is named after: -1 with errno set on failure.
//
// Production code takes a `const SysCalls&` defaulting to `realSysCalls()`; a
// test copies `realSysCalls()` and replaces the members it wants to fail.
// Extend by adding a member here and its real call in SysCalls.cpp.
struct SysCalls {
    std::function<int(const char* path, int flags, mode_t mode)> open;
    std::function<int(const char* path, struct stat* status)> stat;
    std::function<int(int fd, struct stat* status)> fstat;
    std::function<ssize_t(int fd, void* buffer, std::size_t count)> read;
    std::function<int(int fd)> close;
    std::function<ssize_t(int fd, const void* buffer, std::size_t count)> write;
    std::function<int(int fd)> fsync;
    std::function<int(int fd, mode_t mode)> fchmod;
    std::function<int(const char* from, const char* to)> rename;
    std::function<int(const char* path)> unlink;
    std::function<int(const char* path, int mode)> access;
    std::function<int(int fd, uid_t owner, gid_t group)> fchown;
    // rename(2) that fails with EEXIST instead of replacing `to`
    // (renameat2 with RENAME_NOREPLACE; EINVAL where the file system cannot).
    std::function<int(const char* from, const char* to)> renameNoReplace;
    std::function<int(const char* from, const char* to)> link;
};

// The real calls.
const SysCalls& realSysCalls();

}  // namespace larkspin
