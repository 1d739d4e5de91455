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
        return waitUntil([&](const auto& notices) {
            return std::ranges::any_of(notices, [&](const auto& n) { return n.change == change; });
        });
    }
    bool waitUntil(const std::function<bool(const std::vector<FileTracker::Notice>&)>& done,
                   std::chrono::milliseconds limit = test::waitLimit) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return done(all); });
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

    // Ends each grace period the tracker sets (a name event heard late
    // starts one anew) until it reports `change`.
    bool graceUntil(Change change) {
        const auto until = std::chrono::steady_clock::now() + test::waitLimit;
        const auto reported = [&](const auto& all) {
            return std::ranges::any_of(all, [&](const auto& n) { return n.change == change; });
        };
        while (std::chrono::steady_clock::now() < until) {
            if (!drainForTesting(*queue)) return false;
            if (clock.pendingTimerCount() > 0) clock.advance(FileTracker::renameGrace);
            if (notices->waitUntil(reported, std::chrono::milliseconds(5))) return true;
        }
        return false;
    }

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

std::string describe(const std::vector<FileTracker::Notice>& notices) {
    std::string text;
    for (const auto& n : notices)
        text += std::to_string(static_cast<int>(n.change)) + " " + n.path.filename().string() + "; ";
    return text;
}

// Waits until the tracker has heard its file leave its name: its grace
// period is set on the clock (the only timer of these tests).
bool graceStarted(const ManualClock& clock) {
    const auto until = std::chrono::steady_clock::now() + test::waitLimit;
    while (clock.pendingTimerCount() == 0) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
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
            ASSERT_TRUE(graceStarted(tracking.clock));
            EXPECT_TRUE(drainForTesting(*tracking.queue));
            EXPECT_FALSE(has(*tracking.notices, Change::moved));
            EXPECT_EQ(tracker->path(), file);
            ASSERT_TRUE(tracking.graceUntil(Change::moved));
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

TEST(FileTracker, FollowsAMoveIntoAnotherFolderAndWatchesTheNameThere) {
    test::TempDir dir;
    const auto file = dir.write("a/notes.md", "# A\n");
    fs::create_directories(dir / "b");
    Tracking tracking;
    auto tracker = tracking.track(file);

    const auto moved = dir / "b" / "notes.md";
    fs::rename(file, moved);
    ASSERT_TRUE(tracking.graceUntil(Change::moved));
    EXPECT_EQ(tracking.notices->items().front().path, moved);
    EXPECT_EQ(tracker->path(), moved);

    // Still the same file: a write there is a change, not a loss.
    append(moved);
    EXPECT_TRUE(tracking.notices->waitFor(Change::changed));

    // An editor's save there that keeps a backup: the new file at the name
    // in the new folder is the tracker's, the backup is not followed.
    const std::size_t before = tracking.notices->items().size();
    fs::rename(moved, dir / "b" / "notes.md~");
    dir.write("b/notes.md", "# B\n");
    const auto saved = readFileIdentity(moved);
    const auto holdsSaved = [&] {
        const auto held = tracker->file();
        return held && readFileIdentity(held->get()) == saved;
    };
    EXPECT_TRUE(tracking.notices->waitUntil([&](const auto& notices) {
        return notices.size() > before && notices.back().change == Change::changed && holdsSaved();
    })) << describe(tracking.notices->items());
    tracking.clock.advance(2 * FileTracker::renameGrace);
    ASSERT_TRUE(drainForTesting(*tracking.queue));
    EXPECT_EQ(tracker->path(), moved);
    for (const auto& n : tracking.notices->items()) {
        EXPECT_NE(n.change, Change::deleted);
        EXPECT_EQ(n.path, moved);
    }
    append(moved);
    EXPECT_TRUE(tracking.notices->waitFor(Change::changed));
    EXPECT_EQ(tracking.notices->items().back().path, moved);
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
