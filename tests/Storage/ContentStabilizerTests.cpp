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

// A stabiliser on a manual clock that counts the files it opens; `refuse`
// makes an open fail with EACCES.
struct Harness {
    explicit Harness(std::filesystem::path file) {
        SysCalls sys = realSysCalls();
        sys.open = [this, real = sys.open](const char* path, int flags, mode_t mode) {
            ++reads;
            return refuse(reads) ? (errno = EACCES, -1) : real(path, flags, mode);
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
    void signalAndSettle() {
        stabilizer->signal();
        pass(ContentStabilizer::settleDelay);
        pass(ContentStabilizer::settleDelay);
    }

    ManualClock clock;
    std::atomic<int> reads{0};
    std::function<bool(int read)> refuse = [](int) { return false; };
    std::vector<Outcome> outcomes;
    std::unique_ptr<ContentStabilizer> stabilizer;
};

TEST(ContentStabilizer, ReportsOnceTwoReadsAfterTheLastSignalAgreeAndNotAgainForTheSameFile) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "# Notes\n");
    Harness h(file);
    for (int i = 0; i < 5; ++i) {  // a burst of signals is one read sequence
        h.stabilizer->signal();
        h.pass(100ms);
    }
    h.pass(49ms);
    EXPECT_EQ(h.reads, 0);
    h.pass(1ms);
    EXPECT_EQ(h.reads, 1);
    h.stabilizer->signal();  // between the two reads: starts over
    h.pass(150ms);
    h.stabilizer->drainForTesting();
    h.clock.advance(ContentStabilizer::settleDelay);
    h.stabilizer->drainForTesting();
    EXPECT_EQ(h.reads, 3);
    EXPECT_TRUE(h.outcomes.empty()) << "the verdict reaches the main thread on a later turn";
    MainThread::drainForTesting();
    EXPECT_EQ(h.outcomes, std::vector{Outcome::stable(DiskVersion::read(file))});
    h.pass(1s);
    EXPECT_EQ(h.reads, 3);  // settled: no more reads

    // The same file again: read, not reported; likewise after a cancel.
    h.signalAndSettle();
    h.stabilizer->cancel();
    h.signalAndSettle();
    EXPECT_EQ(h.reads, 7);
    EXPECT_EQ(h.outcomes.size(), 1u);

    // Asked for again, the same verdict is reported once more.
    h.stabilizer->resample();
    h.pass(ContentStabilizer::settleDelay);
    h.pass(ContentStabilizer::settleDelay);
    EXPECT_EQ(h.outcomes.size(), 2u);
    EXPECT_EQ(h.outcomes.back(), h.outcomes.front());
}

TEST(ContentStabilizer, KeepsReadingWhileTheFileChangesAndReportsTheStateItSettlesOn) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "one\n");
    Harness h(file);
    h.signalAndSettle();
    h.stabilizer->signal();
    h.pass(150ms);
    for (int i = 0; i < 6; ++i) {  // rewritten at every read: no verdict meanwhile
        dir.write("notes.md", "changing " + std::to_string(i) + "\n");
        h.pass(150ms);
    }
    EXPECT_EQ(h.outcomes.size(), 1u);
    h.pass(150ms);
    ASSERT_EQ(h.outcomes.size(), 2u);
    EXPECT_EQ(h.outcomes[1], Outcome::stable(DiskVersion::read(file)));
}

TEST(ContentStabilizer, AnUnreadableFileIsReportedOnceWithItsReasonAndAFlickerIsNot) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "a\n");
    Harness h(file);
    h.refuse = [](int read) { return read % 2 == 0; };  // readable, then not, ...
    h.stabilizer->signal();
    for (int i = 0; i < 6; ++i) h.pass(150ms);
    EXPECT_TRUE(h.outcomes.empty());

    h.refuse = [](int) { return false; };
    std::filesystem::remove(file);
    for (int i = 0; i < 2; ++i) h.signalAndSettle();
    ASSERT_EQ(h.outcomes.size(), 1u);
    ASSERT_NE(h.outcomes[0].unreadableReason(), nullptr);
    EXPECT_EQ(h.outcomes[0].unreadableReason()->failure.kind, DocumentLoadFailure::Kind::notFound);

    dir.write("notes.md", "b\n");  // back again: a version
    h.signalAndSettle();
    ASSERT_EQ(h.outcomes.size(), 2u);
    EXPECT_NE(h.outcomes[1].stableVersion(), nullptr);
}

TEST(ContentStabilizer, AStabilizerThatIsGoneReportsNothingAndHoldsNoTimer) {
    test::TempDir dir;
    Harness h(dir.write("notes.md", "a\n"));
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
