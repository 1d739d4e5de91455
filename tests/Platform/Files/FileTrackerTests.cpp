#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <vector>

#include "Platform/Files/FileTracker.hpp"
#include "Support/TempDir.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using Change = FileTracker::Change;

// The notices a tracker sends from its queue, with a bounded wait for them.
struct Notices {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<FileTracker::Notice> all;

    bool waitFor(Change change) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, test::waitLimit, [&] {
            return std::ranges::any_of(all, [&](const auto& n) { return n.change == change; });
        });
    }
    std::vector<FileTracker::Notice> items() {
        std::lock_guard lock(mutex);
        return all;
    }
};

struct Tracking {
    std::shared_ptr<SerialExecutor> queue =
        std::make_shared<SerialExecutor>("dev.corvantel.larkspin.test.tracker");
    std::shared_ptr<Notices> notices = std::make_shared<Notices>();

    std::unique_ptr<FileTracker> track(const fs::path& path) {
        return std::make_unique<FileTracker>(path, queue, [n = notices](const auto& notice) {
            std::lock_guard lock(n->mutex);
            n->all.push_back(notice);
            n->changed.notify_all();
        });
    }
};

void append(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
}

TEST(FileTracker, FollowsAMoveIntoAnotherFolder) {
    test::TempDir dir;
    const auto file = dir.write("a/notes.md", "# A\n");
    fs::create_directories(dir / "b");
    Tracking tracking;
    auto tracker = tracking.track(file);

    const auto moved = dir / "b" / "renamed.md";
    fs::rename(file, moved);
    ASSERT_TRUE(tracking.notices->waitFor(Change::moved));
    EXPECT_EQ(tracking.notices->items().front().path, moved);
    EXPECT_EQ(tracker->path(), moved);

    // Still the same file: a write there is a change, not a loss.
    append(moved);
    EXPECT_TRUE(tracking.notices->waitFor(Change::changed));
    for (const auto& n : tracking.notices->items()) EXPECT_NE(n.change, Change::deleted);
}

TEST(FileTracker, FollowsAnAtomicReplaceAndReportsADeletion) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# A\n");
    Tracking tracking;
    auto tracker = tracking.track(file);

    // Another program saves atomically: a new file renamed over ours.
    fs::rename(dir.write(".notes.md.new", "# B\n"), file);
    ASSERT_TRUE(tracking.notices->waitFor(Change::changed));
    EXPECT_EQ(tracking.notices->items().front().path, file);

    // The tracker now holds the new file: deleting it is a deletion.
    fs::remove(file);
    ASSERT_TRUE(tracking.notices->waitFor(Change::deleted));
    EXPECT_EQ(tracking.notices->items().back().change, Change::deleted);
    EXPECT_EQ(tracking.notices->items().back().path, file);
}

TEST(FileTracker, AMissingFileCannotBeTracked) {
    test::TempDir dir;
    Tracking tracking;
    try {
        tracking.track(dir / "missing.md");
        FAIL() << "expected an error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ENOENT, std::generic_category()));
    }
}

}  // namespace
}  // namespace larkspin
