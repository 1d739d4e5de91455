// The observer over real inotify events; timers (reopen, settling) run on a
// manual clock, so nothing waits for real time except the kernel's events.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Files/FileTracker.hpp"
#include "Platform/Files/InodeWatch.hpp"
#include "Platform/Files/InotifyService.hpp"
#include "Storage/FileChangeObserver.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using Kind = FileChangeEvent::Kind;
using Outcome = ContentStabilizer::Outcome;

bool mainThreadIdle() {
    return test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; });
}

// Stands in for the document: owns its observer, whose callbacks hold it
// weakly, and records what arrives.
struct FakeOwner {
    std::vector<FileChangeEvent> events;
    std::vector<Outcome> outcomes;
    std::unique_ptr<FileChangeObserver> observer;

    // Returns once the observer has started watching (or failed to).
    static std::shared_ptr<FakeOwner> open(const fs::path& file, bool presenter, Clock& clock) {
        auto owner = make(file, presenter, clock);
        EXPECT_TRUE(owner->observer->drainForTesting());
        return owner;
    }
    static std::shared_ptr<FakeOwner> make(const fs::path& file, bool presenter, Clock& clock) {
        auto owner = std::make_shared<FakeOwner>();
        std::weak_ptr<FakeOwner> weak = owner;
        owner->observer = std::make_unique<FileChangeObserver>(
            file, presenter,
            [weak](const FileChangeEvent& e) {
                ASSERT_TRUE(MainThread::isMainThread());
                if (auto self = weak.lock()) self->events.push_back(e);
            },
            [weak](const Outcome& o) {
                ASSERT_TRUE(MainThread::isMainThread());
                if (auto self = weak.lock()) self->outcomes.push_back(o);
            },
            clock);
        return owner;
    }

    bool has(Kind kind) const {
        return std::any_of(events.begin(), events.end(),
                           [kind](const auto& e) { return e.kind == kind; });
    }
    bool waitFor(Kind kind) {
        return test::runMainLoopUntil([&] { return has(kind); });
    }
    // The events of the observer's own file descriptor, in order.
    std::vector<Kind> vnodeKinds() const {
        std::vector<Kind> kinds;
        for (const auto& e : events) {
            if (e.kind < Kind::presenterDidChange) kinds.push_back(e.kind);
        }
        return kinds;
    }
    // Moves the manual clock by `delay` with every queue catching up.
    void pass(ManualClock& clock, Clock::Duration delay) {
        observer->drainForTesting();
        clock.advance(delay);
        observer->drainForTesting();
        mainThreadIdle();
    }
    // Lets time pass until a new verdict arrives (events still on their way
    // restart the stabiliser, so a fixed number of steps would not do).
    bool settle(ManualClock& clock) {
        const auto before = outcomes.size();
        for (int step = 0; step < 40 && outcomes.size() == before; ++step) {
            pass(clock, ContentStabilizer::settleDelay);
        }
        return outcomes.size() > before;
    }
};

void append(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

TEST(FileChangeObserver, ReportsWhatHappensToTheFileReopensAndGivesAVerdict) {
    enum class Verdict { none, stable, notFound };
    struct Case {
        const char* name;
        std::function<void(const test::TempDir&, const fs::path&)> act;
        std::vector<Kind> vnode;  // the descriptor's events, in order
        int reopens;              // reopen delays until the last of them
        std::optional<Kind> presenter;
        Verdict verdict;
    };
    const Case cases[] = {
        {"append", [](auto&, const fs::path& f) { append(f, "more\n"); },
         {Kind::write, Kind::extend}, 0, Kind::presenterDidChange, Verdict::stable},
        {"touch",
         [](auto&, const fs::path& f) {
             struct timespec times[2] = {{1'000'000, 0}, {1'000'000, 0}};
             ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
         },
         {Kind::attrib}, 0, std::nullopt, Verdict::stable},
        {"second name", [](auto& d, const fs::path& f) { fs::create_hard_link(f, d / "alias.md"); },
         {Kind::link}, 0, std::nullopt, Verdict::none},
        {"atomic replace",
         [](auto& d, const fs::path& f) { fs::rename(d.write(".notes.md.sb-1", "new\n"), f); },
         {Kind::delete_, Kind::reopened}, 1, Kind::presenterDidChange, Verdict::stable},
        {"delete", [](auto&, const fs::path& f) { fs::remove(f); },
         {Kind::delete_, Kind::reopenFailed}, DispatchSourceFileChange::maxReopenAttempts,
         Kind::presenterDeletion, Verdict::notFound},
        // The observer watches the path it was given, which stays empty; the
        // presenter follows the file.
        {"move away", [](auto& d, const fs::path& f) { fs::rename(f, d / "b" / "moved.md"); },
         {Kind::rename, Kind::reopenFailed}, DispatchSourceFileChange::maxReopenAttempts,
         Kind::presenterDidMove, Verdict::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const auto file = dir.write("notes.md", "# Notes\n");
        fs::create_directories(dir / "b");
        ManualClock clock;
        auto owner = FakeOwner::open(file, true, clock);
        c.act(dir, file);
        ASSERT_TRUE(owner->waitFor(c.reopens == 0 ? c.vnode.back() : c.vnode.front()));
        int reopens = 0;
        for (; !owner->has(c.vnode.back()) && reopens <= 10; ++reopens) {
            owner->pass(clock, DispatchSourceFileChange::reopenDelay);
        }
        EXPECT_EQ(reopens, c.reopens);
        EXPECT_EQ(owner->vnodeKinds(), c.vnode);
        if (c.presenter == Kind::presenterDidMove) {
            // A move is told once the name stayed empty for the grace period.
            owner->pass(clock, FileTracker::renameGrace);
        }
        if (c.presenter) {
            EXPECT_TRUE(owner->waitFor(*c.presenter));
        }
        EXPECT_EQ(owner->has(Kind::presenterDeletion), c.presenter == Kind::presenterDeletion);
        if (c.presenter == Kind::presenterDidMove) {
            EXPECT_NE(std::find(owner->events.begin(), owner->events.end(),
                                FileChangeEvent::presenterDidMove(dir / "b" / "moved.md")),
                      owner->events.end());
        }
        if (c.verdict == Verdict::none) continue;
        ASSERT_TRUE(owner->settle(clock) || !owner->outcomes.empty());
        if (c.verdict == Verdict::notFound) {
            ASSERT_NE(owner->outcomes.back().unreadableReason(), nullptr);
            EXPECT_EQ(owner->outcomes.back().unreadableReason()->failure.kind,
                      DocumentLoadFailure::Kind::notFound);
            continue;
        }
        EXPECT_EQ(owner->outcomes.back(), Outcome::stable(DiskVersion::read(file)));
        owner->events.clear();  // still watching the file now at the path
        append(file, "appended\n");
        EXPECT_TRUE(owner->waitFor(Kind::extend));
        owner->observer->stop();
    }
}

TEST(FileChangeObserver, StoppingDuringTheReopenWindowEndsEverything) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "text\n");
    ManualClock clock;
    auto owner = FakeOwner::open(file, false, clock);
    fs::rename(dir.write("replacement.md", "new\n"), file);
    ASSERT_TRUE(owner->waitFor(Kind::delete_));
    owner->observer->drainForTesting();  // the reopen is scheduled
    owner->observer->stop();
    for (int i = 0; i < 10; ++i) owner->pass(clock, DispatchSourceFileChange::reopenDelay);
    EXPECT_EQ(owner->vnodeKinds(), std::vector<Kind>{Kind::delete_});
    EXPECT_TRUE(owner->outcomes.empty());
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

// Starting opens descriptors and adds watches, off the main thread: a file
// that cannot be watched is reported as unreadable, once, with the error,
// and leaves nothing behind; stopping before or during the start leaves
// nothing either.
TEST(FileChangeObserver, StartsInTheBackgroundAndReportsAFileItCannotWatch) {
    test::TempDir dir;
    ManualClock clock;
    const auto file = dir.write("notes.md", "text\n");
    const auto watchesBefore = InotifyService::shared().kernelWatchCount();
    const auto filesBefore = InodeWatch::watchedFileCount();
    for (const bool presenter : {false, true}) {
        SCOPED_TRACE(presenter);
        std::shared_ptr<FakeOwner> owner;
        EXPECT_NO_THROW(owner = FakeOwner::open(dir / "missing.md", presenter, clock));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return !owner->outcomes.empty(); }));
        mainThreadIdle();
        ASSERT_EQ(owner->outcomes.size(), 1u);
        const auto* reason = owner->outcomes[0].unreadableReason();
        ASSERT_NE(reason, nullptr);
        EXPECT_EQ(reason->failure.kind, DocumentLoadFailure::Kind::notFound);
        EXPECT_EQ(reason->detail, "POSIX 2");
        EXPECT_TRUE(owner->events.empty());
        EXPECT_EQ(InotifyService::shared().kernelWatchCount(), watchesBefore);
        EXPECT_EQ(InodeWatch::watchedFileCount(), filesBefore);
        owner->observer->stop();

        // Stopped at once, whether the start has run by then or not.
        auto stopped = FakeOwner::make(file, presenter, clock);
        stopped->observer->stop();
        EXPECT_TRUE(stopped->observer->drainForTesting());
        append(file, "more\n");
        mainThreadIdle();
        EXPECT_EQ(InotifyService::shared().kernelWatchCount(), watchesBefore);
        EXPECT_EQ(InodeWatch::watchedFileCount(), filesBefore);
        EXPECT_TRUE(stopped->events.empty());
        EXPECT_TRUE(stopped->outcomes.empty());
    }
}

std::int64_t entriesOf(const char* folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

TEST(FileChangeObserver, EachWatchedFileCostsOneDescriptorOneKernelWatchAndNoThread) {
    test::TempDir dir;
    ManualClock clock;
    // Whatever the process starts once (the inotify service, the main loop's
    // own descriptors) is started by a first observer.
    FakeOwner::open(dir.write("warm.md", "x\n"), true, clock)->observer->stop();
    mainThreadIdle();

    const auto threadsBefore = entriesOf("/proc/self/task");
    const auto fdsBefore = entriesOf("/proc/self/fd");
    const auto watchesBefore = InotifyService::shared().kernelWatchCount();
    std::vector<std::shared_ptr<FakeOwner>> owners;
    for (int i = 0; i < 20; ++i) {
        const auto file = dir.write("doc" + std::to_string(i) + ".md", "text\n");
        owners.push_back(FakeOwner::open(file, true, clock));  // with its presenter
        append(file, "more\n");
    }
    for (const auto& owner : owners) {
        ASSERT_TRUE(owner->waitFor(Kind::extend));
        ASSERT_TRUE(owner->waitFor(Kind::presenterDidChange));
    }
    EXPECT_EQ(entriesOf("/proc/self/fd") - fdsBefore, 20);
    // One per file, and one for their folder, shared by them all.
    EXPECT_EQ(InotifyService::shared().kernelWatchCount() - watchesBefore, 21u);
    EXPECT_LE(entriesOf("/proc/self/task") - threadsBefore,
              static_cast<std::int64_t>(WorkerPool::maxThreads));

    for (const auto& owner : owners) owner->observer->stop();
    EXPECT_EQ(InotifyService::shared().kernelWatchCount(), watchesBefore);
    // A handler in the middle of an fstat may hold a descriptor a moment longer.
    EXPECT_TRUE(test::runMainLoopUntil([&] { return entriesOf("/proc/self/fd") == fdsBefore; }));
}

TEST(FileChangeObserver, StoppingNeverWaitsForAReadThatHangs) {
    // A read that does not come back (a network mount gone away) must not
    // hold up the main thread when the document closes.
    test::TempDir dir;
    const auto file = dir.write("notes.md", "text\n");
    auto reading = std::make_shared<BlockingWait>();
    auto release = std::make_shared<BlockingWait>();
    auto releasedInTime = std::make_shared<std::atomic<bool>>(false);
    SysCalls sys = realSysCalls();
    sys.open = [=, real = sys.open](const char* path, int flags, mode_t mode) {
        reading->signal();
        *releasedInTime = release->waitForTesting(test::waitLimit);
        return real(path, flags, mode);
    };
    ManualClock clock;
    auto outcomes = std::make_shared<int>(0);
    auto observer = std::make_unique<FileChangeObserver>(
        file, false, [](const FileChangeEvent&) {},
        [outcomes](const Outcome&) { ++*outcomes; }, clock, sys);
    observer->noteExternalEvent(Kind::presenterDidChange);  // asks for a verdict
    clock.advance(ContentStabilizer::settleDelay);
    ASSERT_TRUE(reading->waitForTesting(test::waitLimit));

    observer->stop();
    observer.reset();
    EXPECT_FALSE(release->isSignalled());
    release->signal();
    for (int i = 0; i < 4; ++i) clock.advance(ContentStabilizer::settleDelay);
    test::runOffMainThread([] { SerialExecutor::finishAll(); });
    EXPECT_TRUE(releasedInTime->load()) << "closing waited for the read";
    mainThreadIdle();
    EXPECT_EQ(*outcomes, 0);
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

}  // namespace
}  // namespace larkspin
