#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Storage/ContentStabilizer.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
using Outcome = ContentStabilizer::Outcome;
using Kind = DocumentLoadFailure::Kind;

// A stabiliser on a manual clock that counts the files it opens.
struct Harness {
    explicit Harness(std::filesystem::path file, SysCalls calls = realSysCalls())
        : sys(std::move(calls)) {
        sys.open = [this, real = sys.open](const char* path, int flags, mode_t mode) {
            ++reads;
            return real(path, flags, mode);
        };
        stabilizer = std::make_unique<ContentStabilizer>(
            std::move(file), [this](const Outcome& o) { outcomes.push_back(o); }, clock, sys);
    }

    // Lets `delay` pass and everything that falls due run, up to the main
    // thread's handler calls.
    void pass(Clock::Duration delay) {
        stabilizer->drainForTesting();
        clock.advance(delay);
        stabilizer->drainForTesting();
        MainThread::drainForTesting();
    }
    void settle() {
        pass(ContentStabilizer::settleDelay);
        pass(ContentStabilizer::settleDelay);
    }

    ManualClock clock;
    SysCalls sys;
    std::atomic<int> reads{0};
    std::vector<Outcome> outcomes;
    std::unique_ptr<ContentStabilizer> stabilizer;
};

TEST(ContentStabilizer, ReportsOnceTwoReadsAgreeAndNotAgainForTheSameFile) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# Notes\n");
    Harness h(file);
    h.stabilizer->signal();
    h.pass(149ms);
    EXPECT_EQ(h.reads, 0);
    h.pass(1ms);
    EXPECT_EQ(h.reads, 1);
    EXPECT_TRUE(h.outcomes.empty());
    h.stabilizer->drainForTesting();
    h.clock.advance(ContentStabilizer::settleDelay);
    h.stabilizer->drainForTesting();
    EXPECT_EQ(h.reads, 2);
    EXPECT_TRUE(h.outcomes.empty()) << "the verdict reaches the main thread on a later turn";
    MainThread::drainForTesting();
    ASSERT_EQ(h.outcomes.size(), 1u);
    EXPECT_EQ(h.outcomes[0], Outcome::stable(DiskVersion::read(file)));
    EXPECT_EQ(h.outcomes[0].description(), "stable(" + DiskVersion::read(file).description() + ")");

    // Settled: no more reads.
    h.pass(1s);
    EXPECT_EQ(h.reads, 2);

    // The same file again: read, but not reported; likewise after a cancel.
    h.stabilizer->signal();
    h.settle();
    h.stabilizer->cancel();
    h.stabilizer->signal();
    h.settle();
    EXPECT_EQ(h.reads, 6);
    EXPECT_EQ(h.outcomes.size(), 1u);
}

TEST(ContentStabilizer, ABurstOfSignalsIsOneReadSequence) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "a\n");
    Harness h(file);
    for (int i = 0; i < 5; ++i) {
        h.stabilizer->signal();
        h.pass(100ms);
    }
    EXPECT_EQ(h.reads, 0);
    h.pass(50ms);
    EXPECT_EQ(h.reads, 1);
    // A signal between the two reads starts over: the first read no longer counts.
    h.stabilizer->signal();
    h.pass(150ms);
    EXPECT_TRUE(h.outcomes.empty());
    h.pass(150ms);
    EXPECT_EQ(h.reads, 3);
    EXPECT_EQ(h.outcomes.size(), 1u);
}

TEST(ContentStabilizer, KeepsReadingWhileTheFileChangesAndReportsEachNewState) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "one\n");
    Harness h(file);
    h.stabilizer->signal();
    h.settle();
    ASSERT_EQ(h.outcomes.size(), 1u);

    // Rewritten at every read: no verdict for as long as that goes on.
    h.stabilizer->signal();
    h.pass(150ms);
    for (int i = 0; i < 6; ++i) {
        dir.write("notes.md", "changing " + std::to_string(i) + "\n");
        h.pass(150ms);
    }
    EXPECT_EQ(h.outcomes.size(), 1u);
    EXPECT_EQ(h.reads, 2 + 7);
    h.pass(150ms);
    ASSERT_EQ(h.outcomes.size(), 2u);
    ASSERT_NE(h.outcomes[1].stableVersion(), nullptr);
    EXPECT_EQ(h.outcomes[1].stableVersion()->contentDigest, DiskVersion::digest("changing 5\n"));

    // Touched: same bytes, new date, a new verdict (the content comparison is
    // the document's).
    const auto before = *h.outcomes[1].stableVersion();
    struct timespec times[2] = {{0, UTIME_OMIT}, {1'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    h.stabilizer->signal();
    h.settle();
    ASSERT_EQ(h.outcomes.size(), 3u);
    EXPECT_NE(*h.outcomes[2].stableVersion(), before);
    EXPECT_TRUE(h.outcomes[2].stableVersion()->hasSameContent(before));
}

TEST(ContentStabilizer, AnUnreadableFileIsReportedOnceWithItsReason) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "a\n");
    Harness h(file);
    std::filesystem::remove(file);
    h.stabilizer->signal();
    h.settle();
    ASSERT_EQ(h.outcomes.size(), 1u);
    const auto* reason = h.outcomes[0].unreadableReason();
    ASSERT_NE(reason, nullptr);
    EXPECT_EQ(reason->failure.kind, Kind::notFound);
    EXPECT_EQ(reason->detail, "POSIX 2");
    EXPECT_EQ(h.outcomes[0].description(), "unreadable(POSIX 2)");
    h.stabilizer->signal();
    h.settle();
    EXPECT_EQ(h.outcomes.size(), 1u);

    // Back again: a version.
    dir.write("notes.md", "b\n");
    h.stabilizer->signal();
    h.settle();
    ASSERT_EQ(h.outcomes.size(), 2u);
    EXPECT_NE(h.outcomes[1].stableVersion(), nullptr);
}

TEST(ContentStabilizer, AFileThatFlickersBetweenReadableAndNotIsReadUntilItHoldsStill) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "a\n");
    SysCalls sys = realSysCalls();
    auto refuse = std::make_shared<std::atomic<int>>(0);  // refuse every other open while > 0
    sys.open = [refuse, real = sys.open](const char* p, int f, mode_t m) {
        if (refuse->load() > 0 && refuse->fetch_add(1) % 2 == 1) return errno = EACCES, -1;
        return real(p, f, m);
    };
    Harness h(file, sys);
    refuse->store(1);
    h.stabilizer->signal();
    for (int i = 0; i < 6; ++i) h.pass(150ms);
    EXPECT_TRUE(h.outcomes.empty());

    // Refused for good: permission denied, from the injected EACCES.
    refuse->store(0);
    h.sys.open = [](const char*, int, mode_t) { return errno = EACCES, -1; };
    Harness denied(file, h.sys);
    denied.stabilizer->signal();
    denied.settle();
    ASSERT_EQ(denied.outcomes.size(), 1u);
    EXPECT_EQ(denied.outcomes[0].unreadableReason()->failure.kind, Kind::permissionDenied);
    EXPECT_EQ(denied.outcomes[0].unreadableReason()->detail, "POSIX 13");
}

TEST(ContentStabilizer, AStabilizerThatIsGoneReportsNothingAndHoldsNoTimer) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "a\n");
    Harness h(file);
    h.stabilizer->signal();
    h.pass(150ms);
    EXPECT_EQ(h.clock.pendingTimerCount(), 1u);
    h.stabilizer.reset();
    EXPECT_EQ(h.clock.pendingTimerCount(), 0u);
    h.clock.advance(1s);
    MainThread::drainForTesting();
    EXPECT_TRUE(h.outcomes.empty());
}

}  // namespace
}  // namespace larkspin
