// A document's file watch as the document itself drives it, over real files:
// what its own commands do to the watch. The watch's timers run on a manual
// clock; every wait is bounded.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "Document/Drafts/DraftScheduler.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentUnits.hpp"
#include "Document/FakeDocumentKeeper.hpp"
#include "Storage/ContentStabilizer.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Files/FileTracker.hpp"
#include "Support/LaunchedProgram.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;

Task<std::optional<fs::path>> pick(std::optional<fs::path> path) {
    co_return path;
}
Task<bool> answer(bool value) {
    co_return value;
}

// A page that saves where the test says and asks nothing else.
class SavingHost final : public DocumentWindowHost {
public:
    std::shared_ptr<DocumentReader> reader() const override { return nullptr; }
    NoticeBarController* noticeBarController() const override { return nullptr; }
    void documentTitleChanged() override {}
    Presented present() override { return {}; }
    Task<std::optional<fs::path>> chooseSourceFile(SourceRequest) override { return pick(std::nullopt); }
    Task<bool> confirmDiscard(OpenConfirmation::Question) override { return answer(false); }
    Task<std::optional<fs::path>> chooseSaveLocation(SaveRequest) override { return pick(saveTo); }
    void showSaveError(std::string) override {}

    std::optional<fs::path> saveTo;
};

void writeWith(const fs::path& path, std::string_view bytes, int flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}
void append(const fs::path& path, std::string_view bytes) {
    writeWith(path, bytes, O_APPEND);
}
// As a program writing a file anew at its path (open with O_CREAT).
void writeNew(const fs::path& path, std::string_view bytes) {
    writeWith(path, bytes, O_CREAT | O_TRUNC);
}

// Runs what the document's watch has queued and what that posted to the
// main loop, until both are quiet or `done` holds; then waits a moment for
// the kernel's events still on their way. Work, not sleeps: a step costs
// real time only while nothing is left to run.
void catchUp(Document& document, const std::function<bool()>& done) {
    for (int round = 0; round < 8 && !done(); ++round) {
        document.units().disk().drainForTesting();
        if (MainThread::pendingCount() == 0) break;
        test::runMainLoopUntil([&] { return done() || MainThread::pendingCount() == 0; }, 200);
    }
    test::runMainLoopUntil(done, 2);
}

// Steps `clock` a settling delay at a time, the watch catching up after each,
// until `done` holds.
bool settleUntil(ManualClock& clock, Document& document, const std::function<bool()>& done,
                 int steps = 80) {
    for (int step = 0; step < steps && !done(); ++step) {
        clock.advance(ContentStabilizer::settleDelay);
        catchUp(document, done);
    }
    return done();
}

TEST(DocumentWatchWiring, AfterSaveAsTheNewFileIsWatchedAndTheOldOneNoLonger) {
    test::TempDir dir;
    ManualClock clock;
    const fs::path old = dir.write("old.md", "# Old\n");
    Document::Services services;
    services.draftWriter = std::make_shared<DraftWriter>();
    services.clock = &clock;
    auto document = Document::create(services, std::make_shared<test::FakeDocumentKeeper>(), old);
    test::runTask(Document::read(document));
    SavingHost host;
    host.saveTo = dir / "new.md";
    document->attachWindow(host);
    auto until = [&](const std::function<bool()>& done) { return settleUntil(clock, *document, done); };
    const auto text = [&] { return document->model().sourceText(); };

    document->model().replaceAll("# Mine\n");
    std::optional<std::optional<SaveError>> saved;
    document->saveAs([&](std::optional<SaveError> error) { saved = std::move(error); });
    ASSERT_TRUE(test::runMainLoopUntil([&] { return saved.has_value(); }));
    ASSERT_FALSE(*saved);
    EXPECT_EQ(document->path(), dir / "new.md");
    EXPECT_EQ(test::readFile(dir / "new.md"), "# Mine\n");

    // Another program changes the old file: nothing of it reaches the text;
    // a change of the new one does.
    append(old, "theirs\n");
    until([] { return false; });
    EXPECT_EQ(text(), "# Mine\n");
    append(dir / "new.md", "more\n");
    EXPECT_TRUE(until([&] { return text() == "# Mine\nmore\n"; })) << text();
    document->detachWindow(host);
}

// A document opened on a real file, with the program's own watch on a
// manual clock.
struct Opened {
    test::TempDir dir;
    ManualClock clock;
    std::shared_ptr<test::FakeDocumentKeeper> keeper = std::make_shared<test::FakeDocumentKeeper>();
    std::shared_ptr<Document> document;
    SavingHost host;

    ~Opened() {
        if (document) document->detachWindow(host);
    }
    void open(const fs::path& path) {
        Document::Services services;
        services.draftWriter = std::make_shared<DraftWriter>();
        services.clock = &clock;
        document = Document::create(services, keeper, path);
        test::runTask(Document::read(document));
        document->attachWindow(host);
        // The watch is made on a queue: a change it reports says it is in
        // place (on the file, not on whatever the path names later).
        const std::string opened = text();
        for (int tries = 0; tries < 20 && text() == opened; ++tries) {
            append(path, "\n");
            until([&] { return text() != opened; }, 4);
        }
        ASSERT_NE(text(), opened);
    }
    bool until(const std::function<bool()>& done, int steps = 80) {
        return settleUntil(clock, *document, done, steps);
    }
    std::string text() const { return document->model().sourceText(); }
    bool clean() const { return !document->model().isMissing() && !document->externalIssue(); }
    bool missing() const { return document->model().isMissing(); }
    // Lets `time` pass on the watch's clock, a settling delay at a time.
    void pass(Clock::Duration time) {
        for (Clock::Duration passed{}; passed < time; passed += ContentStabilizer::settleDelay) {
            clock.advance(ContentStabilizer::settleDelay);
            catchUp(*document, [] { return false; });
        }
    }
};

TEST(DocumentWatchWiring, RenamesOfAnyOrderAndSpeedEndOnTheFileTheDocumentHolds) {
    // Each run renames the file through names it leaves at once, the main
    // loop turning in between (so moves are reported for names already
    // gone); `end` is where the file is left.
    struct Case {
        const char* name;
        int cycles;
        std::vector<const char*> names;  // the renames of one cycle, from a.md
        const char* end;
    };
    const Case cases[] = {
        {"one cycle back home", 1, {"b.md", "c.md", "a.md"}, "a.md"},
        {"two hundred cycles back home", 200, {"b.md", "c.md", "a.md"}, "a.md"},
        {"away through a name it leaves", 1, {"b.md", "c.md"}, "c.md"},
        {"into a folder and back out under a new name", 20, {"sub/a.md", "b.md", "a.md"}, "a.md"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Opened o;
        fs::create_directory(o.dir / "sub");
        o.open(o.dir.write("a.md", "# A\n"));
        const std::string base = o.text();
        fs::path at = o.dir / "a.md";
        for (int cycle = 0; cycle < c.cycles; ++cycle) {
            for (const char* name : c.names) {
                fs::rename(at, o.dir / name);
                at = o.dir / name;
                MainThread::turnMainLoop(std::chrono::milliseconds(0));
            }
            if (cycle % 7 == 0) o.clock.advance(ContentStabilizer::settleDelay);
        }
        const fs::path end = o.dir / c.end;
        ASSERT_EQ(at, end);
        // Settled: bound to the file, and so watching it.
        append(end, "more\n");
        EXPECT_TRUE(o.until([&] { return o.text() == base + "more\n"; })) << o.text();
        EXPECT_EQ(o.document->path(), end);
        EXPECT_TRUE(o.clean());
        append(end, "again\n");
        EXPECT_TRUE(o.until([&] { return o.text() == base + "more\nagain\n"; })) << o.text();
        EXPECT_EQ(o.document->path(), end);
    }
}

// Every thread of the shared worker pool taken by a job that waits until
// the holder goes (as long reads of other files would).
class BusyWorkers {
public:
    BusyWorkers() {
        for (std::size_t i = 0; i < WorkerPool::maxThreads; ++i) {
            WorkerPool::shared().post([this] {
                std::unique_lock lock(mutex_);
                ++running_;
                changed_.notify_all();
                changed_.wait(lock, [this] { return released_; });
                --running_;
                changed_.notify_all();
            });
        }
        std::unique_lock lock(mutex_);
        taken_ = changed_.wait_for(lock, std::chrono::seconds(10),
                                   [this] { return running_ == WorkerPool::maxThreads; });
    }
    ~BusyWorkers() {
        std::unique_lock lock(mutex_);
        released_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return running_ == 0; });
    }
    bool taken() const { return taken_; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t running_ = 0;
    bool released_ = false;
    bool taken_ = false;
};

TEST(DocumentWatchWiring, ARenameIsNeverShownMissingHoweverLateTheTrackerLooks) {
    // The workers are all busy when the tracker's grace period ends: its
    // look waits for them. The rename is timed once, by the tracker, so the
    // document waits as long.
    test::LogCapture logs;
    Opened o;
    const fs::path a = o.dir.write("a.md", "# A\n");
    o.open(a);
    const std::string base = o.text();
    const fs::path b = o.dir / "b.md";
    fs::rename(a, b);
    ASSERT_TRUE(o.until([&] { return o.document->units().disk().state() == DiskWatchState::grace; }));
    // What the verdict started has started.
    ASSERT_TRUE(test::runMainLoopUntil([] { return MainThread::pendingCount() == 0; }));
    {
        BusyWorkers busy;
        ASSERT_TRUE(busy.taken());
        o.clock.advance(2 * FileTracker::renameGrace);
        test::runMainLoopUntil([&] { return o.missing(); }, 40);
        EXPECT_FALSE(o.missing());
    }
    EXPECT_TRUE(o.until([&] { return o.document->path() == b; }));
    EXPECT_TRUE(o.clean());
    EXPECT_FALSE(logs.contains("document", "源文件丢失"));
    append(b, "more\n");
    EXPECT_TRUE(o.until([&] { return o.text() == base + "more\n"; })) << o.text();
}

TEST(DocumentWatchWiring, AFolderReplacedByALinkToAnotherFileNeverShowsThatFile) {
    // The file's folder is renamed (the file hears nothing of it) and a link
    // to a folder with another file of the same name takes its place.
    Opened o;
    fs::create_directory(o.dir / "dir");
    fs::create_directory(o.dir / "other");
    o.dir.write("other/d.md", "# Other\n");
    o.open(o.dir.write("dir/d.md", "# Mine\n"));
    const std::string base = o.text();
    fs::rename(o.dir / "dir", o.dir / "dir.old");
    fs::create_directory_symlink(o.dir / "other", o.dir / "dir");

    append(o.dir / "dir.old" / "d.md", "more\n");
    EXPECT_TRUE(o.until([&] { return o.document->path() == o.dir / "dir.old" / "d.md"; }))
        << o.document->path().value_or("");
    EXPECT_TRUE(o.until([&] { return o.text() == base + "more\n"; })) << o.text();
    EXPECT_TRUE(o.clean());
    EXPECT_GE(o.keeper->fileChanges, 1);

    append(o.dir / "other" / "d.md", "theirs\n");  // not the document's file
    o.until([] { return false; }, 10);
    EXPECT_EQ(o.text(), base + "more\n");
    append(o.dir / "dir.old" / "d.md", "again\n");  // still followed
    EXPECT_TRUE(o.until([&] { return o.text() == base + "more\nagain\n"; })) << o.text();
}

TEST(DocumentWatchWiring, AFileSavedByReplacingItAtItsPathIsShownThereAndSoAreLaterSaves) {
    // Editors and backup tools that save by rename: whatever becomes of the
    // old file, the new file at the document's path is the document's.
    struct Case {
        const char* name;
        std::function<void(const fs::path& a, std::string_view text)> save;
    };
    const Case cases[] = {
        {"vim: backup by rename, new file, backup removed",
         [](const fs::path& a, std::string_view text) {
             fs::rename(a, fs::path(a) += "~");
             writeNew(a, text);
             fs::remove(fs::path(a) += "~");
         }},
        {"emacs: backup by rename kept",
         [](const fs::path& a, std::string_view text) {
             fs::rename(a, fs::path(a) += "~");
             writeNew(a, text);
         }},
        {"a second hard link kept, new file renamed over",
         [](const fs::path& a, std::string_view text) {
             const fs::path snapshot = a.parent_path() / "snap" / ("s" + std::to_string(::rand()));
             fs::create_directories(snapshot.parent_path());
             fs::create_hard_link(a, snapshot);
             writeNew(a.parent_path() / "t", text);
             fs::rename(a.parent_path() / "t", a);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Opened o;
        const fs::path a = o.dir.write("a.md", "# A\n");
        o.open(a);
        for (const std::string text : {"# A\nnew line\n", "# A\nnew line\nand another\n"}) {
            c.save(a, text);
            EXPECT_TRUE(o.until([&] { return o.text() == text; })) << o.text();
            EXPECT_EQ(o.document->path(), a);
            EXPECT_TRUE(o.clean());
        }
        // Well past the grace period: still on the path, and on its file.
        o.pass(std::chrono::seconds(3));
        EXPECT_EQ(o.document->path(), a);
        EXPECT_FALSE(o.missing());
        if (fs::exists(fs::path(a) += "~")) append(fs::path(a) += "~", "backup\n");
        append(a, "mine\n");
        EXPECT_TRUE(o.until([&] { return o.text() == "# A\nnew line\nand another\nmine\n"; }))
            << o.text();
        EXPECT_EQ(o.document->path(), a);
    }
}

TEST(DocumentWatchWiring, VimsOwnSaveIsShownAtThePath) {
    const fs::path vim = "/usr/bin/vim";
    if (!fs::exists(vim)) GTEST_SKIP() << "vim is not installed";
    Opened o;
    const fs::path a = o.dir.write("a.md", "# A\n");
    o.open(a);
    // Debian's defaults; the backup is skipped only in the temporary folder,
    // where the test's files are.
    test::LaunchedProgram editor({vim.string(), "-N", "-n", "-es", "-c", "set backupskip=", "-c",
                                  "normal Gonew line", "-c", "wq", a.string()},
                                 {});
    ASSERT_TRUE(editor.started());
    const auto status = editor.waitForExit(std::chrono::seconds(20));
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << editor.output();
    const std::string saved = test::readFile(a);
    ASSERT_TRUE(saved.ends_with("new line\n")) << saved;
    EXPECT_TRUE(o.until([&] { return o.text() == saved; })) << o.text();
    o.pass(std::chrono::seconds(3));
    EXPECT_EQ(o.document->path(), a);
    EXPECT_TRUE(o.clean());
}

TEST(DocumentWatchWiring, ALinkRetargetedShowsItsNewTarget) {
    Opened o;
    const fs::path one = o.dir.write("t1.md", "# One\n");
    const fs::path two = o.dir.write("t2.md", "# Two\n");
    const fs::path link = o.dir / "link.md";
    fs::create_symlink("t1.md", link);
    o.open(link);
    const std::string opened = o.text();
    fs::create_symlink("t2.md", o.dir / "l.tmp");
    fs::rename(o.dir / "l.tmp", link);
    EXPECT_TRUE(o.until([&] { return o.text() == "# Two\n"; })) << o.text();
    EXPECT_EQ(o.document->path(), link);
    append(one, "old target\n");  // no longer the document's
    append(two, "new target\n");
    EXPECT_TRUE(o.until([&] { return o.text() == "# Two\nnew target\n"; })) << o.text();
    EXPECT_EQ(o.document->path(), link);
    EXPECT_NE(opened, o.text());
}

TEST(DocumentWatchWiring, AFileBackAtItsPathLongAfterItWentIsSeenAgain) {
    struct Case {
        const char* name;
        std::function<void(Opened&, const fs::path& a)> away;
        std::function<void(Opened&, const fs::path& a)> back;
    };
    const Case cases[] = {
        {"deleted, written back",
         [](Opened&, const fs::path& a) { fs::remove(a); },
         [](Opened&, const fs::path& a) { writeNew(a, "# back\n"); }},
        {"moved to another file system and back (copied, removed)",
         [](Opened& o, const fs::path& a) {
             fs::create_directories(o.dir / "elsewhere");
             fs::copy_file(a, o.dir / "elsewhere" / "a.md");
             fs::remove(a);
         },
         [](Opened& o, const fs::path& a) {
             append(o.dir / "elsewhere" / "a.md", "# back\n");
             writeNew(a, test::readFile(o.dir / "elsewhere" / "a.md"));
         }},
        {"a folder in its place, then the file",
         [](Opened& o, const fs::path& a) {
             fs::remove(a);
             fs::create_directory(a);
             o.pass(std::chrono::seconds(1));
             fs::remove(a);
         },
         [](Opened&, const fs::path& a) { writeNew(a, "# back\n"); }},
        {"its folder removed, then made again with the file (a clean build)",
         [](Opened&, const fs::path& a) { fs::remove_all(a.parent_path()); },
         [](Opened&, const fs::path& a) {
             fs::create_directory(a.parent_path());
             writeNew(a, "# back\n");
         }},
    };
    for (const bool edited : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (edited ? ", with edits" : ""));
            Opened o;
            const fs::path a = o.dir.write("out/a.md", "# A\n");
            o.open(a);
            if (edited) o.document->model().replaceAll("# Mine\n");
            c.away(o, a);
            EXPECT_TRUE(o.until([&] { return o.missing(); }));
            o.pass(std::chrono::seconds(2));  // every reopen has long failed
            c.back(o, a);
            if (edited) {
                // Edits and a file back with other bytes: a conflict, the
                // edits kept.
                EXPECT_TRUE(o.until([&] {
                    return o.document->externalIssue() &&
                           o.document->externalIssue()->kind() == ExternalIssueKind::conflict;
                }));
                EXPECT_EQ(o.text(), "# Mine\n");
                EXPECT_FALSE(o.missing());
                continue;
            }
            const std::string back = test::readFile(a);
            EXPECT_TRUE(o.until([&] { return o.text() == back; })) << o.text();
            EXPECT_TRUE(o.clean());
            append(a, "later\n");  // and watched again
            EXPECT_TRUE(o.until([&] { return o.text() == back + "later\n"; })) << o.text();
            EXPECT_EQ(o.document->path(), a);
        }
    }
}

TEST(DocumentWatchWiring, AReloadReadsOnlyTheFileItWasAskedFor) {
    // The user accepts the change shown; before the reload reads, another
    // file takes the path. It is judged as itself first, never adopted
    // unseen.
    std::atomic<bool> armed{false}, entered{false}, released{false};
    test::TempDir dir;
    const fs::path a = dir.write("a.md", "# A\n");
    SysCalls sys = realSysCalls();
    sys.open = [&](const char* path, int flags, mode_t mode) {
        if (!(flags & O_PATH) && fs::path(path) == a && armed.exchange(false)) {
            entered = true;
            for (int i = 0; i < 2000 && !released; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return realSysCalls().open(path, flags, mode);
    };
    ManualClock clock;
    Document::Services services;
    services.draftWriter = std::make_shared<DraftWriter>();
    services.clock = &clock;
    services.sys = sys;
    services.externalChangePolicy = [] { return ExternalChangePolicy::ask; };
    auto document = Document::create(services, std::make_shared<test::FakeDocumentKeeper>(), a);
    test::runTask(Document::read(document));
    SavingHost host;
    document->attachWindow(host);
    auto until = [&](const std::function<bool()>& done) { return settleUntil(clock, *document, done); };
    auto asked = [&] {
        return document->externalIssue() &&
               document->externalIssue()->kind() == ExternalIssueKind::externalChanged;
    };
    // The watch is made on a queue: changed until it says so.
    for (int tries = 0; tries < 20 && !asked(); ++tries) {
        append(a, "theirs\n");
        for (int step = 0; step < 4 && !asked(); ++step) {
            clock.advance(ContentStabilizer::settleDelay);
            test::runMainLoopUntil(asked, 10);
        }
    }
    ASSERT_TRUE(asked());
    until([] { return false; });  // settled

    armed = true;
    document->reloadFromDisk("用户接受外部修改");
    ASSERT_TRUE(test::runMainLoopUntil([&] { return entered.load(); }));
    const fs::path other = dir.write(".a.md.new", "# Other\n");
    fs::rename(other, a);
    released = true;
    until([] { return false; });
    EXPECT_EQ(document->model().sourceText(), "# A\n");
    EXPECT_TRUE(asked());
    document->detachWindow(host);
}

// A document the keeper lets watch no file (the process holds all the
// watches it may) waits unwatched; what changed meanwhile is read once it
// may watch again, and a watch given up for another document comes back the
// same way.
TEST(DocumentWatchWiring, ADocumentWaitingForAWatchReadsWhatChangedMeanwhileOnceItWatches) {
    test::TempDir dir;
    ManualClock clock;
    const fs::path path = dir.write("waits.md", "# One\n");
    auto keeper = std::make_shared<test::FakeDocumentKeeper>();
    keeper->allowsWatch = false;
    Document::Services services;
    services.draftWriter = std::make_shared<DraftWriter>();
    services.clock = &clock;
    auto document = Document::create(services, keeper, path);
    test::runTask(Document::read(document));
    SavingHost host;
    document->attachWindow(host);
    const auto text = [&] { return document->model().sourceText(); };
    auto until = [&](const std::function<bool()>& done) { return settleUntil(clock, *document, done); };
    EXPECT_TRUE(document->isWaitingToObserve());
    EXPECT_FALSE(document->isObservingFile());

    writeNew(path, "# Two\n");
    until([] { return false; });
    EXPECT_EQ(text(), "# One\n");
    keeper->allowsWatch = true;
    document->resumeObservingFile();
    EXPECT_TRUE(until([&] { return text() == "# Two\n"; })) << text();
    EXPECT_FALSE(document->isWaitingToObserve());
    // Watched now: a change is heard as it happens.
    append(path, "more\n");
    EXPECT_TRUE(until([&] { return text() == "# Two\nmore\n"; })) << text();

    document->pauseObservingFile();
    EXPECT_TRUE(document->isWaitingToObserve());
    writeNew(path, "# Three\n");
    until([] { return false; });
    EXPECT_EQ(text(), "# Two\nmore\n");
    document->resumeObservingFile();
    EXPECT_TRUE(until([&] { return text() == "# Three\n"; })) << text();
    EXPECT_FALSE(document->externalIssue());
    document->detachWindow(host);
}

}  // namespace
}  // namespace larkspin
