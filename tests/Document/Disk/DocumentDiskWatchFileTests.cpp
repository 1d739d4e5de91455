// The watch over real files and real inotify events: what other programs do
// to the file reaches the document as the right calls. Timers (settling,
// grace) run on a manual clock that the tests step; every wait is bounded.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "Document/Disk/DocumentDiskWatch.hpp"
#include "Document/Disk/FakeDiskClient.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
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
void rewrite(const fs::path& path, std::string_view bytes) { writeFile(path, bytes, O_TRUNC); }
// As another program saves: a new file beside it, renamed over it.
void replace(const fs::path& path, std::string_view bytes) {
    const auto temporary = path.parent_path() / ".note.md.new";
    writeFile(temporary, bytes, O_CREAT | O_TRUNC);
    fs::rename(temporary, path);
}

// A document open on "note.md" with its watch; `sys` may refuse reads.
struct Open {
    test::LogCapture logs;
    test::TempDir dir;
    fs::path file = dir.write("note.md", "hello\n");
    std::atomic<bool> refuseReads{false};
    ManualClock clock;
    test::FakeDiskClient client;
    DocumentDiskWatch watch{client, clock, faultySys()};

    Open() {
        client.open(file);
        watch.start(file);
        EXPECT_TRUE(watch.drainForTesting());
    }

    SysCalls faultySys() {
        SysCalls sys = realSysCalls();
        sys.open = [this](const char* path, int flags, mode_t mode) {
            if (refuseReads && fs::path(path).filename() == "note.md") {
                errno = EACCES;
                return -1;
            }
            return realSysCalls().open(path, flags, mode);
        };
        return sys;
    }

    // Lets time pass, a settling delay at a time, with every queue catching
    // up, until `done` holds (false after a bounded number of steps).
    bool until(const std::function<bool()>& done) {
        for (int step = 0; step < 60; ++step) {
            if (done()) return true;
            watch.drainForTesting();
            clock.advance(ContentStabilizer::settleDelay);
            watch.drainForTesting();
            test::runMainLoopUntil(done, 10);
        }
        return done();
    }
    // Steps `count` settling delays whatever happens.
    void pass(int count) {
        int left = count;
        until([&] { return left-- <= 0; });
    }
    bool reloadedTo(std::string_view text) {
        return until([&] { return !client.adopted.empty() && client.adopted.back() == text; });
    }
};

TEST(DocumentDiskWatchFiles, OtherProgramsChangesReachTheDocument) {
    struct Case {
        const char* name;
        std::function<void(Open&)> act;
        std::function<void(Open&)> check;
    };
    const Case cases[] = {
        {"append", [](Open& o) { append(o.file, "more\n"); },
         [](Open& o) { EXPECT_TRUE(o.reloadedTo("hello\nmore\n")); }},
        {"rewrite in place", [](Open& o) { rewrite(o.file, "rewritten\n"); },
         [](Open& o) { EXPECT_TRUE(o.reloadedTo("rewritten\n")); }},
        {"atomic replace", [](Open& o) { replace(o.file, "replaced\n"); },
         [](Open& o) {
             EXPECT_TRUE(o.reloadedTo("replaced\n"));
             EXPECT_TRUE(o.client.moves.empty());
             // Still watching the new file at the same path.
             append(o.file, "again\n");
             EXPECT_TRUE(o.reloadedTo("replaced\nagain\n"));
         }},
        {"ask first", [](Open& o) {
             o.client.policy = ExternalChangePolicy::ask;
             append(o.file, "more\n");
         },
         [](Open& o) {
             EXPECT_TRUE(o.until([&] { return o.client.issue.has_value(); }));
             EXPECT_EQ(o.client.issueKind(), K::externalChanged);
             EXPECT_TRUE(o.client.adopted.empty());
         }},
        {"dirty", [](Open& o) {
             o.client.model.replaceAll("mine\n");
             append(o.file, "more\n");
         },
         [](Open& o) {
             EXPECT_TRUE(o.until([&] { return o.client.issue.has_value(); }));
             EXPECT_EQ(o.client.issueKind(), K::conflict);
             EXPECT_EQ(o.client.model.sourceText(), "mine\n");
         }},
        {"delete", [](Open& o) { fs::remove(o.file); },
         [](Open& o) {
             EXPECT_TRUE(o.until([&] { return o.client.model.isMissing(); }));
             EXPECT_EQ(o.client.issueKind(), K::missing);
             EXPECT_EQ(o.client.model.sourceText(), "hello\n");
         }},
        {"rename in the folder", [](Open& o) { fs::rename(o.file, o.dir / "renamed.md"); },
         [](Open& o) {
             const auto moved = o.dir / "renamed.md";
             EXPECT_TRUE(o.until([&] { return !o.client.moves.empty(); }));
             EXPECT_EQ(o.client.moves, std::vector<fs::path>{moved});
             append(moved, "more\n");
             EXPECT_TRUE(o.reloadedTo("hello\nmore\n"));
             o.clock.advance(DocumentDiskWatch::missingGrace);
             EXPECT_FALSE(o.client.model.isMissing());
         }},
        {"move to another folder", [](Open& o) {
             fs::create_directory(o.dir / "sub");
             fs::rename(o.file, o.dir / "sub" / "note.md");
         },
         [](Open& o) {
             const auto moved = o.dir / "sub" / "note.md";
             EXPECT_TRUE(o.until([&] { return !o.client.moves.empty(); }));
             EXPECT_EQ(o.watch.path(), moved);
             rewrite(moved, "elsewhere\n");
             EXPECT_TRUE(o.reloadedTo("elsewhere\n"));
             EXPECT_FALSE(o.client.model.isMissing());
         }},
        {"permission refused, then given back", [](Open& o) {
             o.refuseReads = true;
             append(o.file, "more\n");
         },
         [](Open& o) {
             EXPECT_TRUE(o.until([&] { return o.client.issue.has_value(); }));
             EXPECT_EQ(o.client.issueKind(), K::permission);
             EXPECT_TRUE(o.client.model.isAccessDenied());
             o.refuseReads = false;
             o.watch.sampleAgain();  // the notice's retry
             EXPECT_TRUE(o.reloadedTo("hello\nmore\n"));
             EXPECT_FALSE(o.client.issue);
             EXPECT_FALSE(o.client.model.isAccessDenied());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open o;
        c.act(o);
        c.check(o);
    }
}

TEST(DocumentDiskWatchFiles, AFileThatCannotBeWatchedReachesTheDocument) {
    test::LogCapture logs;
    test::TempDir dir;
    ManualClock clock;
    test::FakeDiskClient client;
    DocumentDiskWatch watch(client, clock);
    watch.start(dir / "absent.md");
    EXPECT_TRUE(test::runMainLoopUntil([&] { return client.issue.has_value(); }));
    EXPECT_EQ(client.issueKind(), K::missing);

    // The file turns up and the user retries: the watch starts anew and the
    // new bytes are judged (no baseline: reloaded).
    dir.write("absent.md", "found\n");
    watch.sampleAgain();
    for (int step = 0; step < 60 && client.adopted.empty(); ++step) {
        watch.drainForTesting();
        clock.advance(ContentStabilizer::settleDelay);
        watch.drainForTesting();
        test::runMainLoopUntil([&] { return !client.adopted.empty(); }, 10);
    }
    EXPECT_EQ(client.adopted, std::vector<std::string>{"found\n"});
    EXPECT_FALSE(client.issue);
}

TEST(DocumentDiskWatchFiles, OurOwnAtomicSaveIsNotAnExternalChange) {
    Open o;
    o.client.model.replaceAll("mine\n");
    const auto snapshot = o.client.model.snapshot();
    o.client.model.beginSave();
    replace(o.file, "mine\n");
    o.pass(6);  // the save's own events settle while it runs
    o.client.model.markSaved(snapshot, DiskVersion::read(o.file));
    o.client.model.endSave();
    o.watch.saveDidEnd();
    o.pass(6);
    EXPECT_EQ(o.client.issuesRaised, 0);
    EXPECT_TRUE(o.client.adopted.empty());

    // Still watching: a later change by someone else is one.
    append(o.file, "theirs\n");
    EXPECT_TRUE(o.reloadedTo("mine\ntheirs\n"));
    EXPECT_EQ(o.client.issuesRaised, 0);
}

TEST(DocumentDiskWatchFiles, AMoveToAnotherFileSystemEndsMissing) {
    struct stat here {}, there {};
    Open o;
    if (::stat(o.dir.path().c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev) {
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    const fs::path target = fs::path("/dev/shm") / ("larkspin-" + std::to_string(::getpid()) + ".md");
    // What mv does across file systems: copy, then remove the original.
    fs::copy_file(o.file, target, fs::copy_options::overwrite_existing);
    fs::remove(o.file);
    EXPECT_TRUE(o.until([&] { return o.client.model.isMissing(); }));
    EXPECT_TRUE(o.client.moves.empty());
    EXPECT_EQ(o.client.model.sourceText(), "hello\n");
    fs::remove(target);
}

}  // namespace
}  // namespace larkspin
