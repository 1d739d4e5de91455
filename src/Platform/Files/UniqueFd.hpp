#pragma once

#include <unistd.h>

#include <utility>

#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Owns one file descriptor and closes it when it goes away: with close(2),
// or through the system-call seam it was given (which must outlive it), so
// that file code under test closes through the same `SysCalls` it opened
// with. A negative descriptor is none and is never closed.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(int fd, const SysCalls& sys) : fd_(fd), sys_(&sys) {}
    UniqueFd(UniqueFd&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), sys_(other.sys_) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
            sys_ = other.sys_;
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held (the same way as before) and holds `fd`.
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            if (sys_) {
                sys_->close(fd_);
            } else {
                ::close(fd_);
            }
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
    const SysCalls* sys_ = nullptr;
};

}  // namespace larkspin
