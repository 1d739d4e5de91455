#include <gtest/gtest.h>

#include <fcntl.h>

#include <vector>

#include "Platform/Files/SysCalls.hpp"
#include "Platform/Files/UniqueFd.hpp"

namespace larkspin {
namespace {

// A seam that records what it closes (and closes it for real).
struct ClosingSeam {
    ClosingSeam() {
        sys.close = [this](int fd) {
            closed.push_back(fd);
            return ::close(fd);
        };
    }
    SysCalls sys = realSysCalls();
    std::vector<int> closed;
};

int openNull() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

TEST(UniqueFd, ClosesThroughTheSeamItWasGivenOnEveryPath) {
    ClosingSeam first;
    ClosingSeam second;
    const int a = openNull();
    const int b = openNull();
    const int c = openNull();
    {
        UniqueFd held(a, first.sys);
        UniqueFd other(b, second.sys);
        held = std::move(other);  // a closes through its own seam; b keeps its
        EXPECT_EQ(first.closed, std::vector<int>{a});
        EXPECT_FALSE(other);
        UniqueFd moved(std::move(held));
        EXPECT_EQ(moved.get(), b);
    }
    EXPECT_EQ(second.closed, std::vector<int>{b});

    UniqueFd released(c, first.sys);
    EXPECT_EQ(released.release(), c);
    released.reset();
    EXPECT_EQ(first.closed, std::vector<int>{a}) << "a released descriptor is the caller's";
    ::close(c);

    UniqueFd failed(-1, first.sys);  // an open that failed
    EXPECT_FALSE(failed);
    failed.reset();
    EXPECT_EQ(first.closed.size(), 1u);
}

}  // namespace
}  // namespace larkspin
