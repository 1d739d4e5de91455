// The observer over real inotify events; timers (reopen, settling) run on a
// manual clock, so nothing waits for real time except the kernel's events.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Files/InotifyService.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Storage/FileChangeObserver.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Kind = FileChangeEvent::Kind;
using Outcome = ContentStabilizer::Outcome;

// Stands in for the document: owns its observer, whose callbacks hold it
// weakly, and records what arrives.
struct FakeOwner {
    std::vector<FileChangeEvent> events;
    std::vector<Outcome> outcomes;
    std::unique_ptr<FileChangeObserver> observer;

    static std::shared_ptr<FakeOwner> open(const fs::path& file, bool presenter, Clock& clock) {
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
    // The events of the observer's own file descriptor, in order.
    std::vector<Kind> vnodeKinds() const {
        std::vector<Kind> kinds;
        for (const auto& e : events) {
            if (e.kind < Kind::presenterDidChange) kinds.push_back(e.kind);
        }
        return kinds;
    }
};

bool waitFor(const std::shared_ptr<FakeOwner>& owner, Kind kind) {
    return test::runMainLoopUntil([&] { return owner->has(kind); });
}

// Lets time pass on the manual clock in steps, with each queue catching up,
// until a new verdict arrives (events still on their way restart the
// stabiliser, so a fixed number of steps would not do).
bool settle(const std::shared_ptr<FakeOwner>& owner, ManualClock& clock) {
    const auto before = owner->outcomes.size();
    for (int step = 0; step < 40 && owner->outcomes.size() == before; ++step) {
        owner->observer->drainForTesting();
        clock.advance(ContentStabilizer::settleDelay);
        owner->observer->drainForTesting();
        test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; });
    }
    return owner->outcomes.size() > before;
}

// Moves the manual clock by one reopen delay.
void nextReopen(const std::shared_ptr<FakeOwner>& owner, ManualClock& clock) {
    owner->observer->drainForTesting();
    clock.advance(DispatchSourceFileChange::reopenDelay);
    owner->observer->drainForTesting();
    test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; });
}

void writeAt(const fs::path& path, std::string_view bytes, int flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

TEST(FileChangeObserver, AnAppendIsAWriteThatExtendsThenOneVerdict) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# Notes\n");
    ManualClock clock;
    auto owner = FakeOwner::open(file, false, clock);
    writeAt(file, "more\n", O_APPEND);
    ASSERT_TRUE(waitFor(owner, Kind::extend));
    EXPECT_EQ(owner->vnodeKinds(), (std::vector<Kind>{Kind::write, Kind::extend}));
    ASSERT_TRUE(settle(owner, clock));
    ASSERT_EQ(owner->outcomes.size(), 1u);
    EXPECT_EQ(owner->outcomes[0], Outcome::stable(DiskVersion::read(file)));
    owner->observer->stop();
}

TEST(FileChangeObserver, AnInPlaceRewriteIsAWriteAndATouchAnAttributeChange) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "a longer first text\n");
    ManualClock clock;
    auto owner = FakeOwner::open(file, false, clock);
    writeAt(file, "short\n", O_TRUNC);
    ASSERT_TRUE(waitFor(owner, Kind::write));
    ASSERT_TRUE(settle(owner, clock));
    // Truncated, then written: seen between the two, the file also grew.
    for (auto kind : owner->vnodeKinds()) EXPECT_TRUE(kind == Kind::write || kind == Kind::extend);
    EXPECT_EQ(owner->vnodeKinds().front(), Kind::write);
    EXPECT_EQ(owner->outcomes.back().stableVersion()->contentDigest,
              DiskVersion::digest("short\n"));

    // As touch(1) does it: both times (the kernel reports a change of the
    // modification time alone as a modification).
    owner->events.clear();
    struct timespec times[2] = {{1'000'000, 0}, {1'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_TRUE(waitFor(owner, Kind::attrib));
    EXPECT_EQ(owner->vnodeKinds(), std::vector<Kind>{Kind::attrib});
    ASSERT_TRUE(settle(owner, clock));
    EXPECT_EQ(owner->outcomes.size(), 2u);

    // A second name for the file changes its link count.
    owner->events.clear();
    fs::create_hard_link(file, dir / "alias.md");
    ASSERT_TRUE(waitFor(owner, Kind::link));
    EXPECT_EQ(owner->vnodeKinds(), std::vector<Kind>{Kind::link});
    owner->observer->stop();
}

TEST(FileChangeObserver, AnAtomicReplaceIsADeleteThenReopenedOnTheNewFile) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "old\n");
    ManualClock clock;
    auto owner = FakeOwner::open(file, true, clock);

    fs::rename(dir.write(".notes.md.sb-1234", "new content\n"), file);
    ASSERT_TRUE(waitFor(owner, Kind::delete_));
    ASSERT_TRUE(waitFor(owner, Kind::presenterDidChange));  // the presenter follows the path
    EXPECT_FALSE(owner->has(Kind::reopened));
    nextReopen(owner, clock);
    ASSERT_TRUE(waitFor(owner, Kind::reopened));
    EXPECT_EQ(owner->vnodeKinds(), (std::vector<Kind>{Kind::delete_, Kind::reopened}));
    EXPECT_FALSE(owner->has(Kind::presenterDeletion));
    ASSERT_TRUE(settle(owner, clock));
    EXPECT_EQ(owner->outcomes.back(), Outcome::stable(DiskVersion::read(file)));

    // The reopened watch is on the new file.
    owner->events.clear();
    writeAt(file, "appended\n", O_APPEND);
    ASSERT_TRUE(waitFor(owner, Kind::extend));
    owner->observer->stop();
}

TEST(FileChangeObserver, ADeletedFileIsGivenUpAfterTheFifthTry) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "text\n");
    ManualClock clock;
    auto owner = FakeOwner::open(file, true, clock);

    fs::remove(file);
    ASSERT_TRUE(waitFor(owner, Kind::delete_));
    ASSERT_TRUE(waitFor(owner, Kind::presenterDeletion));
    for (int attempt = 1; attempt < DispatchSourceFileChange::maxReopenAttempts; ++attempt) {
        nextReopen(owner, clock);
    }
    EXPECT_FALSE(owner->has(Kind::reopenFailed));
    nextReopen(owner, clock);
    ASSERT_TRUE(waitFor(owner, Kind::reopenFailed));
    EXPECT_EQ(owner->vnodeKinds(), (std::vector<Kind>{Kind::delete_, Kind::reopenFailed}));
    ASSERT_TRUE(settle(owner, clock) || !owner->outcomes.empty());
    ASSERT_NE(owner->outcomes.back().unreadableReason(), nullptr);
    EXPECT_EQ(owner->outcomes.back().unreadableReason()->failure.kind,
              DocumentLoadFailure::Kind::notFound);
    owner->observer->stop();
}

TEST(FileChangeObserver, AMoveIntoAnotherFolderIsARenameAndThePresenterFollowsIt) {
    test::TempDir dir;
    const auto file = dir.write("a/notes.md", "text\n");
    fs::create_directories(dir / "b");
    ManualClock clock;
    auto owner = FakeOwner::open(file, true, clock);

    const auto moved = dir / "b" / "renamed.md";
    fs::rename(file, moved);
    ASSERT_TRUE(waitFor(owner, Kind::rename));
    ASSERT_TRUE(waitFor(owner, Kind::presenterDidMove));
    for (const auto& e : owner->events) {
        if (e.kind == Kind::presenterDidMove) {
            EXPECT_EQ(e, FileChangeEvent::presenterDidMove(moved));
            EXPECT_EQ(e.description(), "didMove(renamed.md)");
        }
    }
    // The observer watches the path it was given, which stays empty.
    for (int attempt = 0; attempt < DispatchSourceFileChange::maxReopenAttempts; ++attempt) {
        nextReopen(owner, clock);
    }
    ASSERT_TRUE(waitFor(owner, Kind::reopenFailed));
    EXPECT_EQ(owner->vnodeKinds(), (std::vector<Kind>{Kind::rename, Kind::reopenFailed}));
    owner->observer->stop();
}

TEST(FileChangeObserver, TwoObserversOfOneFileHearTheSameAndStopAlone) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "text\n");
    ManualClock clock;
    const auto watchesBefore = InotifyService::shared().kernelWatchCount();
    auto first = FakeOwner::open(file, false, clock);
    auto second = FakeOwner::open(file, false, clock);
    EXPECT_EQ(InotifyService::shared().kernelWatchCount(), watchesBefore + 1);

    writeAt(file, "more\n", O_APPEND);
    ASSERT_TRUE(waitFor(first, Kind::extend));
    ASSERT_TRUE(waitFor(second, Kind::extend));

    first->observer->stop();
    first->events.clear();
    writeAt(file, "again\n", O_APPEND);
    second->events.clear();
    ASSERT_TRUE(waitFor(second, Kind::extend));
    test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; });
    EXPECT_TRUE(first->events.empty());
    EXPECT_EQ(InotifyService::shared().kernelWatchCount(), watchesBefore + 1);

    second->observer->stop();
    second->observer->stop();  // harmless
    EXPECT_EQ(InotifyService::shared().kernelWatchCount(), watchesBefore);
}

TEST(FileChangeObserver, StoppingDuringTheReopenWindowEndsEverything) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "text\n");
    ManualClock clock;
    auto owner = FakeOwner::open(file, false, clock);
    fs::rename(dir.write("replacement.md", "new\n"), file);
    ASSERT_TRUE(waitFor(owner, Kind::delete_));
    owner->observer->drainForTesting();  // the reopen is scheduled
    owner->observer->stop();
    for (int i = 0; i < 10; ++i) {
        clock.advance(DispatchSourceFileChange::reopenDelay);
        test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; });
    }
    EXPECT_EQ(owner->vnodeKinds(), std::vector<Kind>{Kind::delete_});
    EXPECT_TRUE(owner->outcomes.empty());
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

TEST(FileChangeObserver, AMissingFileCannotBeObservedAndLeavesNothingBehind) {
    test::TempDir dir;
    ManualClock clock;
    const auto watchesBefore = InotifyService::shared().kernelWatchCount();
    try {
        FakeOwner::open(dir / "missing.md", true, clock);
        FAIL() << "expected an error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ENOENT, std::generic_category()));
        const ContentStabilizer::UnreadableReason reason(error.code());
        EXPECT_EQ(reason.failure.kind, DocumentLoadFailure::Kind::notFound);
    }
    EXPECT_EQ(InotifyService::shared().kernelWatchCount(), watchesBefore);
}

TEST(FileChangeObserver, OwnEventsArriveOnALaterTurnAndAGoneOwnerGetsNothing) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "text\n");
    ManualClock clock;
    auto owner = FakeOwner::open(file, false, clock);

    owner->observer->noteExternalEvent(Kind::presenterGainedVersion);
    EXPECT_TRUE(owner->events.empty());
    ASSERT_TRUE(waitFor(owner, Kind::presenterGainedVersion));
    EXPECT_EQ(owner->events.front().description(), "gainedVersion");
    // It also asks for a verdict.
    ASSERT_TRUE(settle(owner, clock));
    EXPECT_EQ(owner->outcomes.front(), Outcome::stable(DiskVersion::read(file)));

    // Events on their way when the owner (and with it the observer) goes.
    writeAt(file, "more\n", O_APPEND);
    owner->observer->noteExternalEvent(Kind::presenterDidChange);
    std::weak_ptr<FakeOwner> weak = owner;
    owner.reset();
    EXPECT_TRUE(weak.expired());
    test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; }, 50);
    for (int i = 0; i < 4; ++i) clock.advance(ContentStabilizer::settleDelay);
    test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; }, 50);
}

// Entries of a /proc folder: threads in task/, descriptors in fd/.
std::int64_t entriesOf(const char* folder) {
    std::int64_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(FileChangeObserver, EachWatchedFileCostsOneDescriptorOneKernelWatchAndNoThread) {
    test::TempDir dir;
    ManualClock clock;
    // Whatever the process starts once (the inotify service, the main loop's
    // own descriptors) is started by a first observer.
    FakeOwner::open(dir.write("warm.md", "x\n"), true, clock)->observer->stop();
    test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; });

    const auto threadsBefore = entriesOf("/proc/self/task");
    const auto fdsBefore = entriesOf("/proc/self/fd");
    const auto watchesBefore = InotifyService::shared().kernelWatchCount();
    std::vector<std::shared_ptr<FakeOwner>> owners;
    for (int i = 0; i < 20; ++i) {
        const auto file = dir.write("doc" + std::to_string(i) + ".md", "text\n");
        owners.push_back(FakeOwner::open(file, true, clock));  // with its presenter
        writeAt(file, "more\n", O_APPEND);
    }
    for (const auto& owner : owners) {
        ASSERT_TRUE(waitFor(owner, Kind::extend));
        ASSERT_TRUE(waitFor(owner, Kind::presenterDidChange));
    }
    EXPECT_EQ(entriesOf("/proc/self/fd") - fdsBefore, 20);
    EXPECT_EQ(InotifyService::shared().kernelWatchCount() - watchesBefore, 20u);
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
    test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; });
    EXPECT_EQ(*outcomes, 0);
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

TEST(FileChangeEvent, LogDescriptions) {
    const std::vector<std::pair<FileChangeEvent, std::string>> cases = {
        {Kind::write, "write"},
        {Kind::extend, "extend"},
        {Kind::delete_, "delete"},
        {Kind::rename, "rename"},
        {Kind::attrib, "attrib"},
        {Kind::link, "link"},
        {Kind::reopened, "reopened"},
        {Kind::reopenFailed, "reopenFailed"},
        {Kind::presenterDidChange, "didChange"},
        {FileChangeEvent::presenterDidMove("/x/y/notes.md"), "didMove(notes.md)"},
        {Kind::presenterDeletion, "deletion"},
        {Kind::presenterGainedVersion, "gainedVersion"},
        {Kind::presenterLostVersion, "lostVersion"},
        {Kind::presenterResolvedConflict, "resolvedConflict"},
    };
    for (const auto& [event, text] : cases) EXPECT_EQ(event.description(), text);
    EXPECT_NE(FileChangeEvent::presenterDidMove("/a"), FileChangeEvent::presenterDidMove("/b"));
    EXPECT_EQ(std::hash<FileChangeEvent>{}(FileChangeEvent::presenterDidMove("/a")),
              std::hash<FileChangeEvent>{}(FileChangeEvent::presenterDidMove("/a")));
}

}  // namespace
}  // namespace larkspin
