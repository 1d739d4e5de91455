#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "Platform/Files/InodeWatch.hpp"
#include "Support/TempDir.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;

// Counts the changes a watch hears, with a bounded wait for them.
class Heard {
public:
    InodeWatch::Callback callback() {
        return [count = count_](std::uint32_t mask) {
            if (mask & IN_MODIFY) ++*count;
        };
    }
    bool atLeast(int least) const {
        const auto end = std::chrono::steady_clock::now() + test::waitLimit;
        while (count_->load() < least) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    std::shared_ptr<std::atomic<int>> count_ = std::make_shared<std::atomic<int>>(0);
};

void append(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
}

bool isOpen(const InodeWatch::File& file) {
    return file && ::fcntl(file->get(), F_GETFD) != -1;
}

TEST(InodeWatch, WatchesOfOneFileUnderOneNameShareADescriptorAndAKernelWatch) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# A\n");
    const auto filesBefore = InodeWatch::watchedFileCount();
    const auto kernelBefore = InotifyService::shared().kernelWatchCount();

    Heard first, second;
    auto a = InodeWatch::open(file, first.callback());
    auto b = InodeWatch::open(dir.path() / "." / "notes.md", second.callback());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->file(), b->file());
    EXPECT_EQ(InodeWatch::watchedFileCount(), filesBefore + 1);
    EXPECT_EQ(InotifyService::shared().kernelWatchCount(), kernelBefore + 1);

    append(file);
    EXPECT_TRUE(first.atLeast(1));
    EXPECT_TRUE(second.atLeast(1));

    // One goes: the other still hears the file.
    const InodeWatch::File held = a->file();
    a->reset();
    EXPECT_FALSE(a->isActive());
    EXPECT_EQ(InotifyService::shared().kernelWatchCount(), kernelBefore + 1);
    append(file);
    EXPECT_TRUE(second.atLeast(2));

    // The last goes: the kernel watch at once, the descriptor with the last holder.
    b->reset();
    EXPECT_EQ(InotifyService::shared().kernelWatchCount(), kernelBefore);
    EXPECT_EQ(InodeWatch::watchedFileCount(), filesBefore);
    EXPECT_TRUE(isOpen(held));

    // A new watch of the file starts afresh.
    auto again = InodeWatch::open(file, Heard().callback());
    ASSERT_TRUE(again);
    EXPECT_NE(again->file(), held);
}

TEST(InodeWatch, AnotherNameOfTheFileGetsADescriptorOfItsOwn) {
    // The name matters: a descriptor's path in /proc/self/fd is the name it
    // was opened by, which the presenter reports after a move.
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# A\n");
    fs::create_hard_link(file, dir / "alias.md");
    auto a = InodeWatch::open(file, Heard().callback());
    auto b = InodeWatch::open(dir / "alias.md", Heard().callback());
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->file(), b->file());
}

TEST(InodeWatch, AFileThatCannotBeOpenedIsNotWatched) {
    test::TempDir dir;
    const struct {
        std::string path;
        int error;
    } cases[] = {
        {(dir / "missing.md").native(), ENOENT},
        {(dir / "dir.md").native() + std::string(1, '\0') + "x", EINVAL},
        {(dir / "missing" / "notes.md").native(), ENOENT},
    };
    const auto filesBefore = InodeWatch::watchedFileCount();
    for (const auto& c : cases) {
        auto watched = InodeWatch::open(fs::path(c.path), Heard().callback());
        ASSERT_FALSE(watched);
        EXPECT_EQ(watched.error(), std::error_code(c.error, std::generic_category()));
    }
    EXPECT_EQ(InodeWatch::watchedFileCount(), filesBefore);
}

ino_t inodeOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

TEST(InodeWatch, AFileReplacedOrDeletedWhileItsWatchIsMadeIsNeverWatchedWithoutAName) {
    // Another program acts right after our open and before the kernel watch
    // is in place: the events of that moment are lost, so a watch of the
    // opened file would hear nothing ever again.
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# A\n");
    const auto filesBefore = InodeWatch::watchedFileCount();
    const struct {
        const char* name;
        int races;  // opens followed at once by the other program's act
        bool deletes;
        int error;  // 0: watched
    } cases[] = {
        {"replaced once", 1, false, 0},
        {"replaced at every attempt but the last", InodeWatch::maxAttempts - 1, false, 0},
        {"replaced at every attempt", InodeWatch::maxAttempts, false, EAGAIN},
        {"deleted", 1, true, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("notes.md", "# A\n");
        int racesLeft = c.races;
        int generation = 0;
        SysCalls sys = realSysCalls();
        sys.open = [&](const char* path, int flags, mode_t mode) {
            const int fd = realSysCalls().open(path, flags, mode);
            if (fd >= 0 && racesLeft > 0) {
                --racesLeft;
                if (c.deletes) {
                    fs::remove(file);
                } else {
                    dir.write("next.md", "# " + std::to_string(++generation) + "\n");
                    fs::rename(dir / "next.md", file);
                }
            }
            return fd;
        };
        Heard heard;
        auto watched = InodeWatch::open(file, heard.callback(), sys);
        if (c.error != 0) {
            ASSERT_FALSE(watched);
            EXPECT_EQ(watched.error(), std::error_code(c.error, std::generic_category()));
            EXPECT_EQ(InodeWatch::watchedFileCount(), filesBefore);
            continue;
        }
        ASSERT_TRUE(watched);
        struct stat held {};
        ASSERT_EQ(::fstat(watched->file()->get(), &held), 0);
        EXPECT_EQ(held.st_ino, inodeOf(file));
        EXPECT_GT(held.st_nlink, 0u);
        append(file);  // and heard from then on
        EXPECT_TRUE(heard.atLeast(1));
        watched->reset();
        EXPECT_EQ(InodeWatch::watchedFileCount(), filesBefore);
    }
}

}  // namespace
}  // namespace larkspin
