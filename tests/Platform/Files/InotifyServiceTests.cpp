#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "Platform/Files/InotifyService.hpp"
#include "Platform/Files/UniqueFd.hpp"
#include "Support/TempDir.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

// Waits, within the test's limit, until `count` reaches `least`.
bool reaches(const std::atomic<int>& count, int least) {
    const auto end = std::chrono::steady_clock::now() + test::waitLimit;
    while (count.load() < least) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void append(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
}

TEST(InotifyService, WatchesOfOneFileShareOneKernelWatchUntilTheLastGoes) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# A\n");
    auto& service = InotifyService::shared();
    const auto before = service.kernelWatchCount();

    // Two descriptors, as two observers of one file hold them.
    UniqueFd first(::open(file.c_str(), O_PATH | O_CLOEXEC));
    UniqueFd second(::open(file.c_str(), O_PATH | O_CLOEXEC));
    auto firstModified = std::make_shared<std::atomic<int>>(0);
    auto secondModified = std::make_shared<std::atomic<int>>(0);
    auto a = service.watch(first.get(), [firstModified](std::uint32_t m) {
        if (m & IN_MODIFY) ++*firstModified;
    });
    auto b = service.watch(second.get(), [secondModified](std::uint32_t m) {
        if (m & IN_MODIFY) ++*secondModified;
    });
    ASSERT_TRUE(a && b);
    EXPECT_EQ(service.kernelWatchCount(), before + 1);
    append(file);
    EXPECT_TRUE(reaches(*firstModified, 1));
    EXPECT_TRUE(reaches(*secondModified, 1));

    // Dropping one subscription must not remove the kernel watch the other
    // still needs (inotify_add_watch on the same inode returns the same one).
    a->reset();
    EXPECT_EQ(service.kernelWatchCount(), before + 1);
    const int seen = secondModified->load();
    append(file);
    EXPECT_TRUE(reaches(*secondModified, seen + 1));

    b->reset();
    EXPECT_EQ(service.kernelWatchCount(), before);

    auto closed = service.watch(-1, [](std::uint32_t) {});
    ASSERT_FALSE(closed);
    EXPECT_EQ(closed.error().category(), std::generic_category());
}

}  // namespace
}  // namespace larkspin
