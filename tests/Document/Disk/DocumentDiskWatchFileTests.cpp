// The watch over real files and real inotify events: what other programs do
// to the file reaches the document as the right calls. The stabiliser's and
// the grace period's timers run on a manual clock; every wait is bounded.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>

#include "Document/Disk/DocumentDiskWatch.hpp"
#include "Document/Disk/FakeDiskClient.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using K = ExternalIssueKind;

void writeFile(const fs::path& path, std::string_view bytes, int flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}
void append(const fs::path& path, std::string_view bytes) { writeFile(path, bytes, O_APPEND); }
// As another program (or our store) saves: a new file renamed over the old.
void replace(const fs::path& path, std::string_view bytes) {
    const auto temporary = path.parent_path() / ".note.md.new";
    writeFile(temporary, bytes, O_CREAT | O_TRUNC);
    fs::rename(temporary, path);
}

// A document open on `name` with its watch; reads of it fail with EACCES
// while `refuseReads` holds.
struct Open {
    test::LogCapture logs;
    test::TempDir dir;
    fs::path file;
    std::atomic<bool> refuseReads{false};
    // Opens for a watch after which another program replaces the file at
    // once, before the watch is in place.
    std::atomic<int> racingReplacements{0};
    std::atomic<int> replacementsMade{0};
    std::mutex racingMutex;
    ManualClock clock;
    test::FakeDiskClient client;
    DocumentDiskWatch watch{client, clock, faultySys()};

    explicit Open(bool exists = true) : file(dir / "note.md") {
        if (exists) {
            dir.write("note.md", "hello\n");
            client.open(file);
        }
        watch.start(file);
        EXPECT_TRUE(watch.drainForTesting());
    }
    SysCalls faultySys() {
        SysCalls sys = realSysCalls();
        sys.open = [this](const char* path, int flags, mode_t mode) {
            const bool ours = fs::path(path).filename() == "note.md";
            if (refuseReads && ours) return errno = EACCES, -1;
            const int fd = realSysCalls().open(path, flags, mode);
            // The tracker and the change source open on queues of their own,
            // maybe at once: one replacement at a time, each from a file of
            // its own, so that the last one made is the one at the path.
            std::lock_guard racing(racingMutex);
            if (fd >= 0 && ours && (flags & O_PATH) && racingReplacements > 0) {
                --racingReplacements;
                const std::string made = std::to_string(++replacementsMade);
                const std::string bytes = "raced " + made + "\n";
                const auto next = file.parent_path() / (".note.md.race" + made);
                const int out =
                    ::open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (out >= 0) {
                    [[maybe_unused]] const auto written = ::write(out, bytes.data(), bytes.size());
                    ::close(out);
                    ::rename(next.c_str(), file.c_str());
                }
            }
            return fd;
        };
        return sys;
    }
    // Steps the clock a settling delay at a time, every queue catching up,
    // until `done` holds; false after a bounded number of steps.
    bool until(const std::function<bool()>& done, int steps = 60) {
        for (int step = 0; step < steps && !done(); ++step) {
            watch.drainForTesting();
            clock.advance(ContentStabilizer::settleDelay);
            watch.drainForTesting();
            test::runMainLoopUntil(done, 10);
        }
        return done();
    }
    bool reloadedTo(std::string_view text) {
        return until([&] { return !client.adopted.empty() && client.adopted.back() == text; });
    }
};

TEST(DocumentDiskWatchFiles, OtherProgramsChangesReachTheDocument) {
    const std::pair<const char*, std::function<void(Open&)>> cases[] = {
        {"append", [](Open& o) {
             append(o.file, "more\n");
             EXPECT_TRUE(o.reloadedTo("hello\nmore\n"));
         }},
        {"rewrite in place", [](Open& o) {
             writeFile(o.file, "new\n", O_TRUNC);
             EXPECT_TRUE(o.reloadedTo("new\n"));
         }},
        {"atomic replace, then a change of the new file", [](Open& o) {
             replace(o.file, "replaced\n");
             EXPECT_TRUE(o.reloadedTo("replaced\n"));
             append(o.file, "again\n");
             EXPECT_TRUE(o.reloadedTo("replaced\nagain\n"));
             EXPECT_TRUE(o.client.moves.empty());
         }},
        {"delete", [](Open& o) {
             fs::remove(o.file);
             EXPECT_TRUE(o.until([&] { return o.client.kind() == K::missing; }));
             EXPECT_TRUE(o.client.model.isMissing());
         }},
        {"rename in the folder, followed", [](Open& o) {
             fs::rename(o.file, o.dir / "renamed.md");
             EXPECT_TRUE(o.until([&] { return !o.client.moves.empty(); }));
             EXPECT_EQ(o.client.moves, std::vector{o.dir / "renamed.md"});
             append(o.dir / "renamed.md", "more\n");
             EXPECT_TRUE(o.reloadedTo("hello\nmore\n"));
         }},
        {"move to another folder, followed", [](Open& o) {
             fs::create_directory(o.dir / "sub");
             fs::rename(o.file, o.dir / "sub" / "note.md");
             EXPECT_TRUE(o.until([&] { return !o.client.moves.empty(); }));
             EXPECT_EQ(o.watch.path(), o.dir / "sub" / "note.md");
             append(o.watch.path(), "more\n");
             EXPECT_TRUE(o.reloadedTo("hello\nmore\n"));
         }},
        {"permission refused, retried once given back", [](Open& o) {
             o.refuseReads = true;
             append(o.file, "more\n");
             EXPECT_TRUE(o.until([&] { return o.client.kind() == K::permission; }));
             EXPECT_TRUE(o.client.model.isAccessDenied());
             o.refuseReads = false;
             o.watch.sampleAgain();
             EXPECT_TRUE(o.reloadedTo("hello\nmore\n"));
             EXPECT_FALSE(o.client.issue);
         }},
    };
    for (const auto& [name, act] : cases) {
        SCOPED_TRACE(name);
        Open o;
        act(o);
        EXPECT_FALSE(o.client.model.isMissing() && o.client.kind() != K::missing);
    }
}

TEST(DocumentDiskWatchFiles, AReplacementRacingTheWatchOfTheNewFileIsFollowed) {
    // Replaced again while the watch of the replacing file is being made
    // (as a program saving a hundred times a second does): the watch ends on
    // the file at the path, not on one without a name.
    Open o;
    o.racingReplacements = 2;  // the tracker's re-attach and the source's reopen
    replace(o.file, "replaced\n");
    EXPECT_TRUE(o.until([&] { return o.racingReplacements == 0; }));
    EXPECT_TRUE(o.reloadedTo("raced 2\n"));
    append(o.file, "more\n");
    EXPECT_TRUE(o.reloadedTo("raced 2\nmore\n"));
    EXPECT_FALSE(o.client.issue);
}

TEST(DocumentDiskWatchFiles, AFileThatCannotBeWatchedReachesTheDocumentAndTheRetryWatchesIt) {
    Open o(false);
    EXPECT_TRUE(o.until([&] { return o.client.issue.has_value(); }, 5));
    EXPECT_EQ(o.client.kind(), K::missing);
    o.dir.write("note.md", "found\n");
    o.watch.sampleAgain();
    EXPECT_TRUE(o.reloadedTo("found\n"));  // no baseline: new bytes
    EXPECT_FALSE(o.client.issue);
    append(o.file, "more\n");  // and watched from now on
    EXPECT_TRUE(o.reloadedTo("found\nmore\n"));
}

TEST(DocumentDiskWatchFiles, AWatchThatCannotStartIsTriedAgainUntilItCan) {
    // As a relocation onto a file that is still unreadable: the watch cannot
    // start (no permission), so nothing would be heard of a later chmod.
    Open o;
    o.refuseReads = true;
    o.watch.start(o.file);
    EXPECT_TRUE(o.until([&] { return o.client.kind() == K::permission; }));
    const int raised = o.client.issuesRaised;
    o.until([] { return false; }, 40);  // two retries fail: no new notice
    EXPECT_EQ(o.client.issuesRaised, raised);
    EXPECT_TRUE(o.watch.isWatchRetryPending());

    o.refuseReads = false;  // chmod 644
    append(o.file, "more\n");
    EXPECT_TRUE(o.reloadedTo("hello\nmore\n"));
    EXPECT_FALSE(o.client.issue);
    EXPECT_FALSE(o.watch.isWatchRetryPending());
    append(o.file, "again\n");  // watched from now on
    EXPECT_TRUE(o.reloadedTo("hello\nmore\nagain\n"));
}

TEST(DocumentDiskWatchFiles, OurOwnAtomicSaveIsNotAnExternalChange) {
    Open o;
    o.client.model.replaceAll("mine\n");
    const auto snapshot = o.client.model.snapshot();
    o.client.model.beginSave();
    replace(o.file, "mine\n");
    o.until([] { return false; }, 6);  // its events settle while the save runs
    o.client.model.markSaved(snapshot, DiskVersion::read(o.file));
    o.client.model.endSave();
    o.watch.saveDidEnd();
    o.until([] { return false; }, 6);
    append(o.file, "theirs\n");  // still watching the saved file
    EXPECT_TRUE(o.reloadedTo("mine\ntheirs\n"));
    EXPECT_EQ(o.client.issuesRaised, 0);
    EXPECT_EQ(o.client.adopted.size(), 1u);
}

}  // namespace
}  // namespace larkspin
