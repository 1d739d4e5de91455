// What the watch does with each verdict, driven by hand on a manual clock:
// the model's disk state, the notice, reloads, the grace period after a
// rename, verdicts parked during a save, and a reload overtaken by an edit.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "Document/Disk/DocumentDiskWatch.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Document/Disk/FakeDiskClient.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using K = ExternalIssueKind;
using Kind = FileChangeEvent::Kind;
using Outcome = ContentStabilizer::Outcome;
using Reason = ContentStabilizer::UnreadableReason;
using namespace std::chrono_literals;

// A document open on "note.md" ("hello\n") with its watch, on a manual clock.
struct Fixture {
    test::TempDir dir;
    fs::path file = dir.write("note.md", "hello\n");
    ManualClock clock;
    test::FakeDiskClient client;
    DocumentDiskWatch watch{client, clock};
    test::LogCapture logs;

    Fixture() {
        AppLog::setRevealPrivateForTesting(true);
        client.open(file);
        watch.start(file);
        EXPECT_TRUE(watch.drainForTesting());
    }
    DiskVersion baseline() const { return *client.model.diskVersion(); }
    DiskVersion touched() const {
        auto v = baseline();
        v.resourceIdentifier = "ffff";
        return v;
    }
    static DiskVersion other() { return DiskVersion{"ffff", 4, distantPast(), "00ee"}; }
    ~Fixture() { AppLog::setRevealPrivateForTesting(std::nullopt); }
    bool idle() {
        return test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; });
    }
    bool logged(std::string_view fragment) const { return logs.contains("document", fragment); }
};

Outcome failed(DocumentLoadFailure failure) {
    return Outcome::unreadable(Reason(std::move(failure), "POSIX 1"));
}

TEST(DocumentDiskWatch, AppliesEachVerdictToTheModelAndTheNotice) {
    struct Case {
        const char* name;
        std::function<void(Fixture&)> prepare;
        std::function<Outcome(Fixture&)> verdict;
        std::function<void(Fixture&)> check;
    };
    const auto none = [](Fixture&) {};
    const Case cases[] = {
        {"same bytes, same version: the notice goes, nothing moves",
         [](Fixture& f) { f.client.setExternalIssue(ExternalIssue::externalChanged(f.other())); },
         [](Fixture& f) { return Outcome::stable(f.baseline()); },
         [](Fixture& f) {
             EXPECT_FALSE(f.client.issue);
             EXPECT_FALSE(f.logged("恢复为已知内容"));
         }},
        {"same bytes under a new identity: the baseline moves, a recovered notice stays",
         [](Fixture& f) { f.client.setExternalIssue(ExternalIssue::recovered({})); },
         [](Fixture& f) { return Outcome::stable(f.touched()); },
         [](Fixture& f) {
             EXPECT_EQ(f.client.model.diskVersion(), f.touched());
             EXPECT_EQ(f.client.issueKind(), K::recovered);
         }},
        {"same bytes after a conflict: cleared and logged",
         [](Fixture& f) {
             f.client.model.replaceAll("mine\n");
             f.client.model.noteConflict(f.other());
             f.client.setExternalIssue(ExternalIssue::conflict(f.other()));
         },
         [](Fixture& f) { return Outcome::stable(f.baseline()); },
         [](Fixture& f) {
             EXPECT_FALSE(f.client.model.conflictVersion());
             EXPECT_FALSE(f.client.issue);
             EXPECT_TRUE(f.client.model.isDirty());
             EXPECT_TRUE(f.logged("源文件恢复为已知内容，清除提示"));
         }},
        {"the conflict's own bytes: the conflict stays",
         [](Fixture& f) {
             f.client.model.noteConflict(f.touched());
             f.client.setExternalIssue(ExternalIssue::conflict(f.touched()));
         },
         [](Fixture& f) { return Outcome::stable(f.baseline()); },
         [](Fixture& f) {
             EXPECT_EQ(f.client.model.conflictVersion(), f.touched());
             EXPECT_EQ(f.client.issueKind(), K::conflict);
             EXPECT_TRUE(f.logged("磁盘内容未变，冲突保持"));
         }},
        {"new bytes, clean, ask: the notice, the text and baseline stay",
         [](Fixture& f) {
             f.client.policy = ExternalChangePolicy::ask;
             f.client.model.noteAccessDenied(true);
         },
         [](Fixture& f) { return Outcome::stable(f.other()); },
         [](Fixture& f) {
             EXPECT_EQ(f.client.issue, ExternalIssue::externalChanged(f.other()));
             EXPECT_EQ(f.client.model.sourceText(), "hello\n");
             EXPECT_NE(f.client.model.diskVersion(), f.other());
             EXPECT_FALSE(f.client.model.isAccessDenied());
             EXPECT_FALSE(f.watch.isReloading());
         }},
        {"new bytes, dirty: a conflict, whatever the policy",
         [](Fixture& f) { f.client.model.replaceAll("mine\n"); },
         [](Fixture& f) { return Outcome::stable(f.other()); },
         [](Fixture& f) {
             EXPECT_EQ(f.client.model.conflictVersion(), f.other());
             EXPECT_EQ(f.client.issue, ExternalIssue::conflict(f.other()));
             EXPECT_EQ(f.client.model.sourceText(), "mine\n");
         }},
        {"new bytes, clean, conflict recorded: a new conflict, no reload",
         [](Fixture& f) { f.client.model.noteConflict(f.touched()); },
         [](Fixture& f) { return Outcome::stable(f.other()); },
         [](Fixture& f) {
             EXPECT_EQ(f.client.model.conflictVersion(), f.other());
             EXPECT_FALSE(f.watch.isReloading());
         }},
        {"permission refused: flag and notice, text kept", none,
         [](Fixture&) { return failed(DocumentLoadFailure::permissionDenied()); },
         [](Fixture& f) {
             EXPECT_TRUE(f.client.model.isAccessDenied());
             EXPECT_EQ(f.client.issueKind(), K::permission);
             EXPECT_EQ(f.client.model.sourceText(), "hello\n");
             EXPECT_TRUE(f.logged("源文件读不到（权限）"));
         }},
        {"read error: notice only", none,
         [](Fixture&) { return failed(DocumentLoadFailure::readError("I/O")); },
         [](Fixture& f) {
             EXPECT_EQ(f.client.issue, ExternalIssue::unreadable(DocumentLoadFailure::readError("I/O")));
             EXPECT_FALSE(f.client.model.isAccessDenied());
             EXPECT_FALSE(f.client.model.isMissing());
         }},
        {"vanished after a delete: missing at once", [](Fixture& f) { f.watch.handleFileEvent(Kind::delete_); },
         [](Fixture&) { return failed(DocumentLoadFailure::notFound()); },
         [](Fixture& f) {
             EXPECT_TRUE(f.client.model.isMissing());
             EXPECT_EQ(f.client.issueKind(), K::missing);
             EXPECT_FALSE(f.watch.isGracePending());
             EXPECT_TRUE(f.logged("源文件丢失（POSIX 1）"));
         }},
        {"vanished after a replace (delete, reopened): missing at once",
         [](Fixture& f) {
             f.watch.handleFileEvent(Kind::rename);
             f.watch.handleFileEvent(Kind::reopened);
         },
         [](Fixture&) { return failed(DocumentLoadFailure::isDirectory()); },
         [](Fixture& f) { EXPECT_EQ(f.client.issueKind(), K::missing); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        c.prepare(f);
        f.watch.handleDiskOutcome(c.verdict(f));
        c.check(f);
        EXPECT_TRUE(f.client.adopted.empty());
    }
}

TEST(DocumentDiskWatch, NewBytesReloadACleanDocument) {
    Fixture f;
    std::ofstream(f.file, std::ios::app) << "more\n";
    f.client.setExternalIssue(ExternalIssue::recovered({}));
    f.watch.handleDiskOutcome(Outcome::stable(f.other()));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !f.watch.isReloading(); }));
    EXPECT_EQ(f.client.adopted, std::vector<std::string>{"hello\nmore\n"});
    EXPECT_EQ(f.client.model.sourceText(), "hello\nmore\n");
    EXPECT_EQ(f.watch.externalReloadCount(), 1);
    EXPECT_FALSE(f.client.issue);  // a reload clears "recovered" too
    EXPECT_TRUE(f.logged("重新载入（外部修改）"));
}

TEST(DocumentDiskWatch, MissingAfterARenameWaitsForTheGracePeriod) {
    struct Case {
        const char* name;
        std::function<void(Fixture&)> within;  // what happens during the grace period
        bool missing;
    };
    const Case cases[] = {
        {"nothing comes", [](Fixture&) {}, true},
        {"another file-gone verdict changes nothing",
         [](Fixture& f) { f.watch.handleDiskOutcome(failed(DocumentLoadFailure::notFound())); }, true},
        {"a verdict parked by a save changes nothing",
         [](Fixture& f) {
             f.client.model.beginSave();
             f.watch.handleDiskOutcome(Outcome::stable(f.baseline()));
         },
         true},
        {"the file is back", [](Fixture& f) { f.watch.handleDiskOutcome(Outcome::stable(f.baseline())); }, false},
        {"permission refused", [](Fixture& f) { f.watch.handleDiskOutcome(failed(DocumentLoadFailure::permissionDenied())); }, false},
        {"a move is seen", [](Fixture& f) { f.watch.fileDidMove(f.file); }, false},
        {"watching restarts", [](Fixture& f) { f.watch.start(f.file); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.watch.handleFileEvent(Kind::rename);
        f.watch.handleDiskOutcome(failed(DocumentLoadFailure::notFound()));
        EXPECT_TRUE(f.watch.isGracePending());
        ASSERT_TRUE(f.idle());
        f.clock.advance(DocumentDiskWatch::missingGrace - 1ms);
        ASSERT_TRUE(f.idle());
        EXPECT_FALSE(f.client.model.isMissing());
        c.within(f);
        ASSERT_TRUE(f.idle());
        f.clock.advance(1s);
        ASSERT_TRUE(f.idle());
        EXPECT_EQ(f.client.model.isMissing(), c.missing);
        EXPECT_EQ(f.client.issueKind() == K::missing, c.missing);
        EXPECT_EQ(f.logged("重命名后未收到新路径"), c.missing);
        EXPECT_FALSE(f.watch.isGracePending());
    }
}

TEST(DocumentDiskWatch, AVerdictDuringASaveWaitsForItsEnd) {
    Fixture f;
    const auto saved = Fixture::other();
    f.client.model.replaceAll("mine\n");
    const auto snapshot = f.client.model.snapshot();
    f.client.model.beginSave();
    // Our own write of the new bytes, seen before the save has ended.
    f.watch.handleDiskOutcome(Outcome::stable(f.touched()));
    f.watch.handleDiskOutcome(Outcome::stable(saved));
    EXPECT_TRUE(f.watch.hasParkedOutcome());
    EXPECT_FALSE(f.client.issue);
    EXPECT_FALSE(f.client.model.conflictVersion());

    f.client.model.markSaved(snapshot, saved);
    f.client.model.endSave();
    f.watch.saveDidEnd();
    // The last verdict only, judged against the saved bytes: nothing to do.
    EXPECT_FALSE(f.watch.hasParkedOutcome());
    EXPECT_FALSE(f.client.issue);
    EXPECT_FALSE(f.client.model.conflictVersion());
    EXPECT_EQ(f.client.model.diskVersion(), saved);
    EXPECT_FALSE(f.watch.isReloading());

    // A verdict parked across a save that did not move the baseline is
    // judged as it would have been: here a conflict for the dirty text.
    const DiskVersion theirs{"abcd", 9, distantPast(), "99aa"};
    f.client.model.replaceAll("mine again\n");
    f.client.model.beginSave();
    f.watch.handleDiskOutcome(Outcome::stable(theirs));
    f.client.model.endSave();
    f.watch.saveDidEnd();
    EXPECT_EQ(f.client.issue, ExternalIssue::conflict(theirs));
}

// Holds the next open of one file until released, so that a reload's read
// is still under way while the test edits the text.
struct HeldOpen {
    fs::path path;
    std::atomic<bool> armed{false};
    std::atomic<bool> entered{false};
    std::atomic<bool> released{false};

    SysCalls sys() {
        SysCalls calls = realSysCalls();
        calls.open = [this](const char* p, int flags, mode_t mode) {
            if (p == path.string() && armed.exchange(false)) {
                entered = true;
                for (int i = 0; i < 1000 && !released; ++i) std::this_thread::sleep_for(5ms);
            }
            return realSysCalls().open(p, flags, mode);
        };
        return calls;
    }
};

TEST(DocumentDiskWatch, AReloadOvertakenByAnEditIsDroppedAndTheFileJudgedAgain) {
    test::TempDir dir;
    const auto file = dir.write("note.md", "hello\n");
    HeldOpen held;
    held.path = file;
    ManualClock clock;
    test::FakeDiskClient client;
    client.open(file);
    DocumentDiskWatch watch(client, clock, held.sys());
    watch.start(file);
    ASSERT_TRUE(watch.drainForTesting());
    test::LogCapture logs;

    std::ofstream(file, std::ios::app) << "theirs\n";
    held.armed = true;
    ASSERT_TRUE(watch.reloadFromDisk("外部修改"));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return held.entered.load(); }));
    client.model.replaceAll("mine\n");
    held.released = true;
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !watch.isReloading(); }));
    EXPECT_TRUE(client.adopted.empty());
    EXPECT_EQ(client.model.sourceText(), "mine\n");
    EXPECT_TRUE(logs.contains("document", "作废"));

    // Asked again, the stabiliser finds the other bytes: a conflict now.
    for (int step = 0; step < 20 && !client.issue; ++step) {
        watch.drainForTesting();
        clock.advance(ContentStabilizer::settleDelay);
        watch.drainForTesting();
        test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; });
    }
    ASSERT_TRUE(client.issue);
    EXPECT_EQ(client.issueKind(), K::conflict);
}

TEST(DocumentDiskWatch, AReloadOfAVanishedFileMarksItMissing) {
    Fixture f;
    fs::remove(f.file);
    ASSERT_TRUE(f.watch.reloadFromDisk("用户重新载入"));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !f.watch.isReloading(); }));
    EXPECT_TRUE(f.client.model.isMissing());
    EXPECT_EQ(f.client.issueKind(), K::missing);
    EXPECT_EQ(f.client.model.sourceText(), "hello\n");
    EXPECT_TRUE(f.logged("重新载入失败"));
    EXPECT_TRUE(f.logged("源文件丢失（重新载入时不存在）"));

    DocumentDiskWatch idle(f.client, f.clock);
    EXPECT_FALSE(idle.reloadFromDisk("用户重新载入"));  // nothing watched
}

TEST(DocumentDiskWatch, FollowingAMoveClearsMissingAndTellsTheDocument) {
    Fixture f;
    f.watch.handleDiskOutcome(failed(DocumentLoadFailure::notFound()));
    ASSERT_TRUE(f.client.model.isMissing());
    const auto moved = f.dir / "renamed.md";
    fs::rename(f.file, moved);
    f.watch.handleFileEvent(FileChangeEvent::presenterDidMove(moved));
    EXPECT_EQ(f.client.moves, std::vector<fs::path>{moved});
    EXPECT_EQ(f.watch.path(), moved);
    EXPECT_FALSE(f.client.model.isMissing());
    EXPECT_FALSE(f.client.issue);
    EXPECT_TRUE(f.logged("跟踪到新位置"));
}

}  // namespace
}  // namespace larkspin
