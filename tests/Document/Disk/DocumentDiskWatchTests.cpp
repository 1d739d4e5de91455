// The decision on each settled verdict, driven by hand on a manual clock:
// the model's disk state, the notice, the grace period after a rename,
// verdicts parked during a save, and reloads that fail or are overtaken.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "Document/Disk/DocumentDiskWatch.hpp"
#include "Document/Disk/FakeDiskClient.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using K = ExternalIssueKind;
using Kind = FileChangeEvent::Kind;
using Outcome = ContentStabilizer::Outcome;
using Load = DocumentLoadFailure;
using namespace std::chrono_literals;

Outcome failed(Load failure) {
    return Outcome::unreadable(ContentStabilizer::UnreadableReason(std::move(failure), "POSIX 1"));
}
const DiskVersion theirs{"ffff", 4, distantPast(), "00ee"};

// A document open on "note.md" ("hello\n") with its watch.
struct Fixture {
    test::LogCapture logs;
    test::TempDir dir;
    fs::path file = dir.write("note.md", "hello\n");
    ManualClock clock;
    test::FakeDiskClient client;
    std::unique_ptr<DocumentDiskWatch> watch;

    explicit Fixture(const SysCalls& sys = realSysCalls()) {
        AppLog::setRevealPrivateForTesting(true);
        client.open(file);
        watch = std::make_unique<DocumentDiskWatch>(client, clock, sys);
        watch->start(file);
        EXPECT_TRUE(watch->drainForTesting());
    }
    ~Fixture() { AppLog::setRevealPrivateForTesting(std::nullopt); }
    DiskVersion baseline() const { return *client.model.diskVersion(); }
    DiskVersion touched() const {
        auto v = baseline();
        v.resourceIdentifier = "ffff";
        return v;
    }
    void feed(const Outcome& outcome) { watch->handleDiskOutcome(outcome); }
    bool logged(std::string_view fragment) const { return logs.contains("document", fragment); }
    void idle() { test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; }); }
};

TEST(DocumentDiskWatch, JudgesEachVerdict) {
    struct Case {
        const char* name;
        std::function<void(Fixture&)> prepare;
        std::function<Outcome(Fixture&)> verdict;
        std::optional<K> issue;  // afterwards
        std::function<bool(Fixture&)> holds;
    };
    auto none = [](Fixture&) {};
    auto same = [](Fixture& f) { return Outcome::stable(f.baseline()); };
    auto other = [](Fixture&) { return Outcome::stable(theirs); };
    auto dirty = [](Fixture& f) { f.client.model.replaceAll("mine\n"); };
    const Case cases[] = {
        {"same bytes: the notice goes", [](Fixture& f) { f.client.setExternalIssue(ExternalIssue::externalChanged(theirs)); },
         same, std::nullopt, [](Fixture& f) { return !f.logged("恢复为已知内容"); }},
        {"same bytes, new identity: baseline moves, recovered stays", [](Fixture& f) { f.client.setExternalIssue(ExternalIssue::recovered({})); },
         [](Fixture& f) { return Outcome::stable(f.touched()); }, K::recovered,
         [](Fixture& f) { return f.client.model.diskVersion() == f.touched(); }},
        {"same bytes after a conflict: cleared", [](Fixture& f) { f.client.model.noteConflict(theirs); }, same, std::nullopt,
         [](Fixture& f) { return !f.client.model.conflictVersion() && f.logged("源文件恢复为已知内容，清除提示"); }},
        {"the conflict's own bytes: kept", [](Fixture& f) {
             f.client.model.noteConflict(f.touched());
             f.client.setExternalIssue(ExternalIssue::conflict(f.touched()));
         }, same, K::conflict, [](Fixture& f) { return f.logged("磁盘内容未变，冲突保持"); }},
        {"new bytes, clean, ask", [](Fixture& f) { f.client.policy = ExternalChangePolicy::ask; }, other, K::externalChanged,
         [](Fixture& f) { return f.client.model.diskVersion() != theirs && !f.watch->isReloading(); }},
        {"new bytes, clean, reload", none, other, std::nullopt, [](Fixture& f) { return f.watch->isReloading(); }},
        {"new bytes, dirty: conflict", dirty, other, K::conflict,
         [](Fixture& f) { return f.client.model.conflictVersion() == theirs && f.client.model.sourceText() == "mine\n"; }},
        {"new bytes, conflict recorded: a new conflict", [](Fixture& f) { f.client.model.noteConflict(f.touched()); }, other,
         K::conflict, [](Fixture& f) { return f.client.model.conflictVersion() == theirs && !f.watch->isReloading(); }},
        {"permission", none, [](Fixture&) { return failed(Load::permissionDenied()); }, K::permission,
         [](Fixture& f) { return f.client.model.isAccessDenied() && f.logged("源文件读不到（权限）：POSIX 1；文本保留"); }},
        {"read error", none, [](Fixture&) { return failed(Load::readError("I/O")); }, K::unreadable,
         [](Fixture& f) { return !f.client.model.isAccessDenied() && !f.client.model.isMissing(); }},
        {"vanished after delete: missing now", [](Fixture& f) { f.watch->handleFileEvent(Kind::delete_); },
         [](Fixture&) { return failed(Load::notFound()); }, K::missing,
         [](Fixture& f) { return f.client.model.isMissing() && f.logged("源文件丢失（POSIX 1）dirty=false"); }},
        {"vanished after a replace (rename, reopened): missing now", [](Fixture& f) {
             f.watch->handleFileEvent(Kind::rename);
             f.watch->handleFileEvent(Kind::reopened);
         }, [](Fixture&) { return failed(Load::isDirectory()); }, K::missing, [](Fixture&) { return true; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        c.prepare(f);
        f.feed(c.verdict(f));
        EXPECT_EQ(f.client.kind(), c.issue);
        EXPECT_TRUE(c.holds(f));
        EXPECT_EQ(f.client.model.sourceText(), f.client.model.isDirty() ? "mine\n" : "hello\n");
    }
}

TEST(DocumentDiskWatch, MissingAfterARenameWaitsForTheTrackersWord) {
    // The file tracker times the rename; the watch keeps no clock of its own
    // for it, however long the tracker takes.
    const std::pair<const char*, std::function<void(Fixture&)>> then[] = {
        {"the tracker finds it no name", [](Fixture& f) { f.watch->handleFileEvent(Kind::presenterDeletion); }},
        {"another file-gone verdict", [](Fixture& f) { f.feed(failed(Load::notFound())); }},
        {"a verdict parked by a save", [](Fixture& f) {
             f.client.model.beginSave();
             f.feed(Outcome::stable(f.baseline()));
         }},
        {"the file back", [](Fixture& f) { f.feed(Outcome::stable(f.baseline())); }},
        {"permission refused", [](Fixture& f) { f.feed(failed(Load::permissionDenied())); }},
        {"a move", [](Fixture& f) { f.watch->fileDidMove(f.file); }},
        {"a restart", [](Fixture& f) { f.watch->start(f.file); }},
    };
    for (std::size_t i = 0; i < std::size(then); ++i) {
        SCOPED_TRACE(then[i].first);
        const bool missing = i == 0;
        Fixture f;
        f.watch->handleFileEvent(Kind::rename);
        f.feed(failed(Load::notFound()));
        f.idle();
        EXPECT_EQ(f.watch->state(), DiskWatchState::grace);
        f.clock.advance(1h);
        f.idle();
        EXPECT_FALSE(f.client.model.isMissing());
        then[i].second(f);
        f.idle();
        f.clock.advance(1h);
        f.idle();
        EXPECT_EQ(f.client.kind() == K::missing, missing);
        EXPECT_EQ(f.logged("源文件丢失（重命名后未收到新路径）"), missing);
    }
}

TEST(DocumentDiskWatch, AFileFoundAtANewPlaceAfterItsMissingNoticeIsNoLongerMissing) {
    // The move is reported after the tracker found no name for the file.
    Fixture f;
    f.watch->handleFileEvent(Kind::rename);
    f.feed(failed(Load::notFound()));
    f.idle();
    f.watch->handleFileEvent(Kind::presenterDeletion);
    f.idle();
    ASSERT_EQ(f.client.kind(), K::missing);
    ASSERT_TRUE(f.client.model.isMissing());

    const fs::path found = f.dir / "found.md";
    fs::rename(f.file, found);
    f.watch->handleFileEvent(FileChangeEvent::presenterDidMove(found));
    EXPECT_TRUE(test::runMainLoopUntil([&] { return !f.client.moves.empty(); }));
    EXPECT_FALSE(f.client.model.isMissing());
    EXPECT_FALSE(f.client.issue);
    EXPECT_EQ(f.client.moves, std::vector{found});
    EXPECT_EQ(f.watch->path(), found);
    // And the verdict on the file found keeps it so.
    for (int step = 0; step < 10; ++step) {
        f.watch->drainForTesting();
        f.clock.advance(ContentStabilizer::settleDelay);
        f.idle();
    }
    EXPECT_FALSE(f.client.model.isMissing());
    EXPECT_FALSE(f.client.issue);
}

TEST(DocumentDiskWatch, AVerdictDuringASaveIsJudgedAtItsEnd) {
    Fixture f;
    f.client.model.replaceAll("mine\n");
    const auto snapshot = f.client.model.snapshot();
    f.client.model.beginSave();
    f.feed(Outcome::stable(f.touched()));
    f.feed(Outcome::stable(theirs));  // our own bytes, landing
    EXPECT_FALSE(f.client.issue);
    f.client.model.markSaved(snapshot, theirs);
    f.client.model.endSave();
    f.watch->saveDidEnd();
    EXPECT_FALSE(f.client.issue);  // the last verdict only, against the saved bytes
    EXPECT_FALSE(f.watch->hasParkedOutcome());

    const DiskVersion later{"abcd", 9, distantPast(), "99aa"};
    f.client.model.replaceAll("again\n");
    f.client.model.beginSave();
    f.feed(Outcome::stable(later));
    f.client.model.endSave();  // a save that did not move the baseline
    f.watch->saveDidEnd();
    EXPECT_EQ(f.client.issue, ExternalIssue::conflict(later));
}

TEST(DocumentDiskWatch, AReloadOvertakenByAnEditIsDroppedAndTheFileJudgedAgain) {
    // Holds the reload's open of the file until the test has edited the text.
    std::atomic<bool> armed{false}, entered{false}, released{false};
    SysCalls sys = realSysCalls();
    sys.open = [&](const char* p, int flags, mode_t mode) {
        if (armed.exchange(false)) {
            entered = true;
            for (int i = 0; i < 1000 && !released; ++i) std::this_thread::sleep_for(5ms);
        }
        return realSysCalls().open(p, flags, mode);
    };
    Fixture f(sys);
    std::ofstream(f.file, std::ios::app) << "theirs\n";
    armed = true;
    ASSERT_TRUE(f.watch->reloadFromDisk("外部修改"));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return entered.load(); }));
    f.client.model.replaceAll("mine\n");
    released = true;
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !f.watch->isReloading(); }));
    EXPECT_TRUE(f.client.adopted.empty());
    EXPECT_TRUE(f.logged("作废"));
    for (int step = 0; step < 20 && !f.client.issue; ++step) {  // the fresh verdict
        f.watch->drainForTesting();
        f.clock.advance(ContentStabilizer::settleDelay);
        f.watch->drainForTesting();
        f.idle();
    }
    EXPECT_EQ(f.client.kind(), K::conflict);
    EXPECT_EQ(f.client.model.sourceText(), "mine\n");
}

TEST(DocumentDiskWatch, AReloadOfAVanishedFileMarksItMissing) {
    Fixture f;
    fs::remove(f.file);
    ASSERT_TRUE(f.watch->reloadFromDisk("用户重新载入"));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !f.watch->isReloading(); }));
    EXPECT_EQ(f.client.kind(), K::missing);
    EXPECT_EQ(f.client.model.sourceText(), "hello\n");
    EXPECT_TRUE(f.logged("重新载入失败：notFound"));
    EXPECT_TRUE(f.logged("源文件丢失（重新载入时不存在）"));
    EXPECT_FALSE(DocumentDiskWatch(f.client, f.clock).reloadFromDisk("x"));  // nothing watched
}

}  // namespace
}  // namespace larkspin
