#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <vector>

#include "Platform/Async/BlockingWait.hpp"
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
    ManualClock clock;
    std::shared_ptr<SerialExecutor> queue =
        std::make_shared<SerialExecutor>("dev.corvantel.larkspin.test.tracker", clock);
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

bool has(Notices& notices, Change change) {
    const auto all = notices.items();
    return std::ranges::any_of(all, [&](const auto& n) { return n.change == change; });
}

TEST(FileTracker, DecidesBetweenAMoveAndAReplacementByWhatTakesTheName) {
    struct Case {
        const char* name;
        std::function<void(const test::TempDir&, const fs::path&)> act;
        Change decided;
        const char* at;  // where the tracker is afterwards
    };
    const Case cases[] = {
        {"renamed, the name left empty: a move once the grace period is over",
         [](auto& d, const fs::path& f) { fs::rename(f, d / "renamed.md"); }, Change::moved,
         "renamed.md"},
        {"an editor's save: old file to a backup, a new file at the name",
         [](auto& d, const fs::path& f) {
             fs::rename(f, d / "notes.md~");
             d.write("notes.md", "# B\n");
         },
         Change::changed, "notes.md"},
        {"another hard link kept, a new file renamed over",
         [](auto& d, const fs::path& f) {
             fs::create_hard_link(f, d / "snapshot.md");
             fs::rename(d.write(".new", "# B\n"), f);
         },
         Change::changed, "notes.md"},
        {"deleted, and back later",
         [](auto& d, const fs::path& f) {
             fs::remove(f);
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
             d.write("notes.md", "# Back\n");
         },
         Change::changed, "notes.md"},
        {"its folder renamed: followed at once",
         [](auto& d, const fs::path&) { fs::rename(d / "in", d / "out"); }, Change::moved,
         "out/notes.md"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const bool inFolder = std::string_view(c.at).starts_with("out/");
        const auto file = dir.write(inFolder ? "in/notes.md" : "notes.md", "# A\n");
        Tracking tracking;
        auto tracker = tracking.track(file);
        c.act(dir, file);
        if (c.decided == Change::moved && !inFolder) {
            // Nothing is decided while a new file may still take the name.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_TRUE(drainForTesting(*tracking.queue));
            EXPECT_FALSE(has(*tracking.notices, Change::moved));
            EXPECT_EQ(tracker->path(), file);
            tracking.clock.advance(FileTracker::renameGrace);
        }
        ASSERT_TRUE(tracking.notices->waitFor(c.decided));
        EXPECT_EQ(tracker->path(), dir / c.at);
        EXPECT_EQ(tracking.notices->items().back().path, dir / c.at);
        // Past any grace period the decision stands, on the file at that path.
        tracking.clock.advance(2 * FileTracker::renameGrace);
        EXPECT_TRUE(drainForTesting(*tracking.queue));
        EXPECT_EQ(tracker->path(), dir / c.at);
        EXPECT_EQ(c.decided == Change::changed, !has(*tracking.notices, Change::moved));
        append(dir / c.at);
        EXPECT_TRUE(tracking.notices->waitFor(Change::changed));
    }
}

TEST(FileTracker, FollowsAMoveIntoAnotherFolder) {
    test::TempDir dir;
    const auto file = dir.write("a/notes.md", "# A\n");
    fs::create_directories(dir / "b");
    Tracking tracking;
    auto tracker = tracking.track(file);

    const auto moved = dir / "b" / "renamed.md";
    fs::rename(file, moved);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(drainForTesting(*tracking.queue));
    tracking.clock.advance(FileTracker::renameGrace);
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
