// The Linux pieces beneath file watching and saving: the shared inotify
// service, the file tracker and the per-path lock.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Files/FileTracker.hpp"
#include "Platform/Files/InotifyService.hpp"
#include "Platform/Files/PathLock.hpp"
#include "Platform/Files/UniqueFd.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Things other threads hand over, with a bounded wait for them.
template <typename T>
class Inbox {
public:
    void add(T value) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(value));
        changed_.notify_all();
    }
    template <typename Predicate>
    bool waitUntil(Predicate holds) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return holds(items_); });
    }
    std::vector<T> items() const {
        std::lock_guard lock(mutex_);
        return items_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<T> items_;
};

UniqueFd openPath(const fs::path& path) {
    return UniqueFd(::open(path.c_str(), O_PATH | O_CLOEXEC));
}

void append(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

TEST(InotifyService, WatchesOfOneFileShareOneKernelWatchUntilTheLastGoes) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# A\n");
    auto& service = InotifyService::shared();
    const auto before = service.kernelWatchCount();

    // Two descriptors, as two observers of one file hold them.
    UniqueFd first = openPath(file);
    UniqueFd second = openPath(file);
    auto firstEvents = std::make_shared<Inbox<std::uint32_t>>();
    auto secondEvents = std::make_shared<Inbox<std::uint32_t>>();
    auto a = service.watch(first.get(), [firstEvents](std::uint32_t m) { firstEvents->add(m); });
    auto b = service.watch(second.get(), [secondEvents](std::uint32_t m) { secondEvents->add(m); });
    ASSERT_TRUE(a && b);
    EXPECT_EQ(service.kernelWatchCount(), before + 1);

    append(file, "more\n");
    const auto sawModify = [](const std::vector<std::uint32_t>& masks) {
        for (auto m : masks)
            if (m & IN_MODIFY) return true;
        return false;
    };
    EXPECT_TRUE(firstEvents->waitUntil(sawModify));
    EXPECT_TRUE(secondEvents->waitUntil(sawModify));

    // Dropping one subscription must not remove the kernel watch the other
    // still needs (inotify_add_watch on the same inode returns the same one).
    a->reset();
    EXPECT_EQ(service.kernelWatchCount(), before + 1);
    const auto seen = secondEvents->items().size();
    append(file, "again\n");
    EXPECT_TRUE(secondEvents->waitUntil([&](const auto& masks) { return masks.size() > seen; }));

    b->reset();
    EXPECT_EQ(service.kernelWatchCount(), before);
}

TEST(InotifyService, RefusesADescriptorThatIsNotOpen) {
    auto watched = InotifyService::shared().watch(-1, [](std::uint32_t) {});
    ASSERT_FALSE(watched);
    EXPECT_EQ(watched.error().category(), std::generic_category());
}

struct TrackerFixture {
    std::shared_ptr<SerialExecutor> queue =
        std::make_shared<SerialExecutor>("dev.corvantel.larkspin.test.tracker");
    std::shared_ptr<Inbox<FileTracker::Notice>> notices =
        std::make_shared<Inbox<FileTracker::Notice>>();

    std::unique_ptr<FileTracker> track(const fs::path& path) {
        return std::make_unique<FileTracker>(
            path, queue, [inbox = notices](const FileTracker::Notice& n) { inbox->add(n); });
    }
    bool waitFor(FileTracker::Change change) {
        return notices->waitUntil([change](const auto& all) {
            for (const auto& n : all)
                if (n.change == change) return true;
            return false;
        });
    }
};

TEST(FileTracker, FollowsAMoveIntoAnotherFolder) {
    test::TempDir dir;
    const auto file = dir.write("a/notes.md", "# A\n");
    fs::create_directories(dir / "b");
    TrackerFixture fixture;
    auto tracker = fixture.track(file);

    const auto moved = dir / "b" / "renamed.md";
    fs::rename(file, moved);
    ASSERT_TRUE(fixture.waitFor(FileTracker::Change::moved));
    EXPECT_EQ(fixture.notices->items().front().path, moved);
    EXPECT_EQ(tracker->path(), moved);

    // Still the same file: a write there is a change, not a loss.
    append(moved, "more\n");
    EXPECT_TRUE(fixture.waitFor(FileTracker::Change::changed));
    for (const auto& n : fixture.notices->items())
        EXPECT_NE(n.change, FileTracker::Change::deleted);
}

TEST(FileTracker, FollowsAnAtomicReplaceAndReportsADeletion) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# A\n");
    TrackerFixture fixture;
    auto tracker = fixture.track(file);

    // Another program saves atomically: a new file renamed over ours.
    fs::rename(dir.write(".notes.md.new", "# B\n"), file);
    ASSERT_TRUE(fixture.waitFor(FileTracker::Change::changed));
    EXPECT_EQ(fixture.notices->items().front().path, file);

    // The tracker now holds the new file: deleting it is a deletion.
    fs::remove(file);
    ASSERT_TRUE(fixture.waitFor(FileTracker::Change::deleted));
    EXPECT_EQ(fixture.notices->items().back().change, FileTracker::Change::deleted);
    EXPECT_EQ(fixture.notices->items().back().path, file);
}

TEST(FileTracker, AMissingFileCannotBeTracked) {
    test::TempDir dir;
    TrackerFixture fixture;
    try {
        fixture.track(dir / "missing.md");
        FAIL() << "expected an error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ENOENT, std::generic_category()));
    }
}

TEST(PathLock, ALinkAndItsTargetShareOneKey) {
    test::TempDir dir;
    const auto file = dir.write("real/notes.md", "x");
    fs::create_directory_symlink(dir / "real", dir / "alias");
    fs::create_symlink(file, dir / "link.md");
    const auto key = PathLock::canonicalKey(file);
    EXPECT_EQ(PathLock::canonicalKey(dir / "link.md"), key);
    EXPECT_EQ(PathLock::canonicalKey(dir / "alias" / "notes.md"), key);
    EXPECT_EQ(PathLock::canonicalKey(dir / "alias" / "." / "new.md"), key.parent_path() / "new.md");
}

TEST(PathLock, WritersExcludeEveryoneWhateverNameTheyUse) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "x");
    fs::create_symlink(file, dir / "link.md");
    std::atomic<int> readers{0};
    std::atomic<int> writers{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            const auto path = (t % 2 == 0) ? file : dir / "link.md";
            for (int i = 0; i < 300; ++i) {
                if ((i + t) % 3 == 0) {
                    const PathLock lock(path, PathLock::Mode::exclusive);
                    if (writers.fetch_add(1) != 0 || readers.load() != 0) overlap = true;
                    std::this_thread::yield();
                    writers.fetch_sub(1);
                } else {
                    const PathLock lock(path, PathLock::Mode::shared);
                    readers.fetch_add(1);
                    if (writers.load() != 0) overlap = true;
                    std::this_thread::yield();
                    readers.fetch_sub(1);
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap);
}

}  // namespace
}  // namespace larkspin
