#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <random>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "Model/DiskVersion.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Storage/FileStore.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using Kind = SaveFailure::Kind;

SaveRequest request(const fs::path& url, std::string data,
                    std::optional<DiskVersion> expected = std::nullopt) {
    return SaveRequest{.url = url, .data = std::move(data), .expectedDiskVersion = expected};
}

// Saves from a main-thread task, as the document does.
SaveOutcome saveNow(FileStore& store, SaveRequest request) {
    return test::runTask(store.save(std::move(request)));
}

// Leftover temporary files in `folder`.
std::vector<std::string> temporaries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const auto name = entry.path().filename().string();
        if (name.find(".orvik-") != std::string::npos) names.push_back(name);
    }
    return names;
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

bool isTemporary(const char* path) {
    return std::string_view(path).find(".orvik-") != std::string_view::npos;
}

TEST(FileStore, CreatesANewFileWithTheUsualModeAndReportsTheVersionReadBack) {
    test::TempDir dir;
    const mode_t previousMask = ::umask(027);
    FileStore store;
    const auto file = dir / "new.md";
    SaveOutcome outcome = SaveOutcome::failed(SaveFailure::replace("not run"));
    test::runOffMainThread([&] { outcome = store.saveAndWait(request(file, "# 新文件\n")); });
    ::umask(previousMask);
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();
    EXPECT_EQ(outcome.asSaved()->version, DiskVersion::read(file));
    EXPECT_EQ(test::readFile(file), "# 新文件\n");
    EXPECT_EQ(modeOf(file), 0640u);  // as open(2) would have made it, not the temporary's 0600
    EXPECT_TRUE(temporaries(dir.path()).empty());
}

TEST(FileStore, TestsForAConflictOnlyAgainstAnExpectedVersionAndByContent) {
    test::TempDir dir;
    FileStore store;
    const auto file = dir.write("notes.md", "version one\n");
    const auto expected = DiskVersion::read(file);

    dir.write("notes.md", "someone else's\n");  // no expected version: replaced
    ASSERT_TRUE(saveNow(store, request(file, "mine\n")).asSaved());

    // Same bytes, another date: not a conflict.
    dir.write("notes.md", "version one\n");
    struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_TRUE(saveNow(store, request(file, "version two\n", expected)).asSaved());

    // One byte differs, same size: a conflict that names what it found.
    dir.write("notes.md", "version One\n");
    auto outcome = saveNow(store, request(file, "version three\n", expected));
    EXPECT_EQ(outcome, SaveOutcome::conflict(expected, DiskVersion::read(file)));
    EXPECT_EQ(test::readFile(file), "version One\n");

    // Gone: a conflict without a found version, and nothing is created.
    fs::remove(file);
    outcome = saveNow(store, request(file, "version four\n", expected));
    EXPECT_EQ(outcome, SaveOutcome::conflict(expected, std::nullopt));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(temporaries(dir.path()).empty());
}

TEST(FileStore, ASameSizeRewriteThatKeepsItsModificationTimeIsStillAConflict) {
    // Another program rewrites the file in place while we save (off the main
    // thread, with our private temporary file on disk): same size, and its
    // modification time put back (cp -p, touch -r).
    test::TempDir dir;
    const auto file = dir.write("notes.md", "version one\n");
    const auto expected = DiskVersion::read(file);
    struct stat original {};
    ASSERT_EQ(::stat(file.c_str(), &original), 0);
    // The file has rested, as a document's file usually has when it is saved.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));

    FileStore store;
    bool onMain = true;
    store.setBeforeReplaceHook([&] {
        onMain = MainThread::isMainThread();
        const auto made = temporaries(dir.path());
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(modeOf(dir / made.front()), 0600u);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "version One\n", 12, 0), 12);
        const struct timespec times[2] = {original.st_atim, original.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    });
    const auto outcome = saveNow(store, request(file, "mine\n", expected));
    EXPECT_FALSE(onMain);
    ASSERT_TRUE(outcome.asConflict()) << outcome.description();
    ASSERT_TRUE(outcome.asConflict()->found.has_value());
    EXPECT_EQ(outcome.asConflict()->found->contentDigest, DiskVersion::digest("version One\n"));
    EXPECT_EQ(outcome.asConflict()->found->modificationDate, expected.modificationDate);
    EXPECT_EQ(test::readFile(file), "version One\n");
    EXPECT_TRUE(temporaries(dir.path()).empty());
}

// Records the calls that put the file in place ("moved") and those on folders
// ("open-folder <fd>", "fsync <fd>"), in order. The save runs on the store's
// queue and is awaited before `log` is read.
SysCalls logging(std::vector<std::string>& log, SysCalls sys) {
    const auto moved = [&log](auto real) {
        return [&log, real](const char* from, const char* to) {
            const int result = real(from, to);
            if (result == 0) log.push_back("moved");
            return result;
        };
    };
    sys.rename = moved(sys.rename);
    sys.renameNoReplace = moved(sys.renameNoReplace);
    sys.link = moved(sys.link);
    sys.open = [&log, real = sys.open](const char* path, int flags, mode_t mode) {
        const int fd = real(path, flags, mode);
        if (fd >= 0 && (flags & O_DIRECTORY)) log.push_back("open-folder " + std::to_string(fd));
        return fd;
    };
    sys.fsync = [&log, real = sys.fsync](int fd) {
        log.push_back("fsync " + std::to_string(fd));
        return real(fd);
    };
    return sys;
}

TEST(FileStore, FlushesTheFolderAfterTheFileIsMovedIntoIt) {
    struct Case {
        const char* name;
        bool existing;       // replacing a file, or creating one
        bool renameRefuses;  // a file system without RENAME_NOREPLACE: a hard link
    };
    for (const Case c : {Case{"replace", true, false}, Case{"new file", false, false},
                         Case{"new file by hard link", false, true}}) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        std::optional<DiskVersion> expected;
        if (c.existing) expected = DiskVersion::read(dir.write("notes.md", "old\n"));
        std::vector<std::string> calls;
        SysCalls sys = logging(calls, realSysCalls());
        if (c.renameRefuses) {
            sys.renameNoReplace = [](const char*, const char*) { return errno = EINVAL, -1; };
        }
        FileStore store(sys);
        const auto outcome = saveNow(store, request(dir / "notes.md", "new\n", expected));
        ASSERT_TRUE(outcome.asSaved()) << outcome.description();

        const auto moved = std::find(calls.begin(), calls.end(), "moved");
        const auto folder = std::find_if(moved, calls.end(), [](const std::string& call) {
            return call.starts_with("open-folder ");
        });
        ASSERT_NE(folder, calls.end()) << "the folder is never opened after the move";
        const std::string fd = folder->substr(std::string("open-folder ").size());
        EXPECT_NE(std::find(folder, calls.end(), "fsync " + fd), calls.end())
            << "the folder is not flushed after the move";
    }
}

struct Fault {
    const char* name;
    Kind kind;
    int error;
    std::function<void(SysCalls&, int)> inject;  // makes one call fail with `error`
};

class FileStoreFaults : public ::testing::TestWithParam<Fault> {};

TEST_P(FileStoreFaults, StopAtTheirStepKeepTheOriginalAndLeaveNoTemporaryFile) {
    const Fault& fault = GetParam();
    test::TempDir dir;
    const auto file = dir.write("notes.md", "original\n");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    SysCalls sys = realSysCalls();
    fault.inject(sys, fault.error);
    FileStore store(sys);

    const auto outcome = saveNow(store, request(file, "new text\n", DiskVersion::read(file)));
    const SaveFailure* failure = outcome.asFailure();
    ASSERT_NE(failure, nullptr) << outcome.description();
    EXPECT_EQ(failure->kind, fault.kind);
    EXPECT_TRUE(failure->leavesOriginalUnchanged());
    const auto code = "POSIX " + std::to_string(fault.error) + ": ";
    EXPECT_NE(failure->message.find(code), std::string::npos) << failure->message;
    EXPECT_EQ(test::readFile(file), "original\n");
    EXPECT_EQ(modeOf(file), 0640u);
    EXPECT_TRUE(temporaries(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Injected, FileStoreFaults,
    ::testing::Values(
        Fault{"CreateRefused", Kind::temporaryWrite, EACCES,
              [](SysCalls& sys, int e) {
                  sys.open = [e, real = sys.open](const char* p, int f, mode_t m) {
                      return isTemporary(p) ? (errno = e, -1) : real(p, f, m);
                  };
              }},
        Fault{"DiskFull", Kind::temporaryWrite, ENOSPC,
              [](SysCalls& sys, int e) {
                  // The first chunk goes through, the rest does not fit.
                  sys.write = [e, wrote = std::make_shared<bool>(false)](int, const void*,
                                                                         std::size_t n) -> ssize_t {
                      if (std::exchange(*wrote, true)) return errno = e, -1;
                      return static_cast<ssize_t>(n / 2);
                  };
              }},
        Fault{"SyncFails", Kind::temporaryWrite, EIO,
              [](SysCalls& sys, int e) { sys.fsync = [e](int) { return errno = e, -1; }; }},
        Fault{
            "ModeRefused", Kind::replace, EPERM,
            [](SysCalls& sys, int e) { sys.fchmod = [e](int, mode_t) { return errno = e, -1; }; }},
        Fault{"RenameRefused", Kind::replace, EACCES,
              [](SysCalls& sys, int e) {
                  sys.rename = [e](const char*, const char*) { return errno = e, -1; };
              }},
        Fault{"DestinationUnreachable", Kind::replace, EACCES,
              [](SysCalls& sys, int e) {
                  sys.stat = [e, real = sys.stat](const char* p, struct stat* s) {
                      return isTemporary(p) ? real(p, s) : (errno = e, -1);
                  };
              }},
        Fault{"RecheckReadFails", Kind::replace, EIO,
              [](SysCalls& sys, int e) {
                  sys.read = [e](int, void*, std::size_t) -> ssize_t { return errno = e, -1; };
              }}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST(FileStore, AVerificationFailureSaysTheFileWasReplaced) {
    // Once the rename has happened, reads flip a bit on the way back, or fail.
    for (const bool readFails : {false, true}) {
        SCOPED_TRACE(readFails ? "read fails" : "bit flipped");
        test::TempDir dir;
        const auto file = dir.write("notes.md", "original\n");
        SysCalls sys = realSysCalls();
        auto renamed = std::make_shared<std::atomic<bool>>(false);
        sys.rename = [renamed, real = sys.rename](const char* from, const char* to) {
            const int result = real(from, to);
            *renamed = result == 0;
            return result;
        };
        sys.read = [renamed, readFails](int fd, void* buffer, std::size_t count) -> ssize_t {
            if (*renamed && readFails) return errno = EIO, -1;
            const ssize_t n = ::read(fd, buffer, count);
            if (*renamed && n > 0) static_cast<char*>(buffer)[0] ^= 0x20;
            return n;
        };
        FileStore store(sys);
        const auto outcome = saveNow(store, request(file, "new text\n", DiskVersion::read(file)));
        ASSERT_TRUE(outcome.asFailure()) << outcome.description();
        const auto found = readFails ? std::nullopt
                                     : std::optional(DiskVersion::digest("New text\n"));
        EXPECT_EQ(*outcome.asFailure(),
                  SaveFailure::verification(DiskVersion::digest("new text\n"), found));
        EXPECT_FALSE(outcome.asFailure()->leavesOriginalUnchanged());
        EXPECT_EQ(test::readFile(file), "new text\n");
        EXPECT_TRUE(temporaries(dir.path()).empty());
    }
}

TEST(FileStore, KeepsPermissionBitsOwnerAndExtendedAttributes) {
    test::TempDir dir;
    FileStore store;
    const bool root = ::geteuid() == 0;  // who may give a file away
    for (const mode_t mode : {0600u, 0755u}) {
        const auto file = dir.write("notes.md", "secret\n");
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        if (root) {
            ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
        }
        const bool xattrs = ::setxattr(file.c_str(), "user.larkspin.tag", "blue", 4, 0) == 0;
        ASSERT_TRUE(saveNow(store, request(file, "still secret\n")).asSaved());
        struct stat status {};
        ASSERT_EQ(::stat(file.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, mode);
        if (root) {
            EXPECT_EQ(std::pair(status.st_uid, status.st_gid), std::pair(1234u, 5678u));
        }
        char value[8] = {};
        if (xattrs) {
            EXPECT_EQ(::getxattr(file.c_str(), "user.larkspin.tag", value, 8), 4);
        }
    }
    if (!root) return;
    // An owner it cannot keep: the set-id bits go, the save stands.
    const auto file = dir.write("tool.md", "x\n");
    ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(file.c_str(), 06755), 0);
    SysCalls sys = realSysCalls();
    sys.fchown = [](int, uid_t, gid_t) { return errno = EPERM, -1; };
    FileStore refused(sys);
    ASSERT_TRUE(saveNow(refused, request(file, "y\n")).asSaved());
    EXPECT_EQ(modeOf(file), 0755u);
}

TEST(FileStore, ASymbolicLinkStaysALinkAndItsTargetIsReplaced) {
    test::TempDir dir;
    const auto target = dir.write("real/notes.md", "old\n");
    fs::create_directories(dir / "links");
    fs::create_symlink("../real/notes.md", dir / "links" / "notes.md");
    fs::create_symlink(dir / "links" / "notes.md", dir / "chain.md");  // a link to a link
    fs::create_symlink("real/later.md", dir / "later.md");             // dangling
    FileStore store;

    auto outcome = saveNow(store, request(dir / "chain.md", "new\n", DiskVersion::read(target)));
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();
    EXPECT_TRUE(fs::is_symlink(dir / "chain.md") && fs::is_symlink(dir / "links" / "notes.md"));
    EXPECT_EQ(test::readFile(target), "new\n");
    EXPECT_EQ(outcome.asSaved()->version, DiskVersion::read(target));
    EXPECT_TRUE(temporaries(dir / "real").empty());
    EXPECT_TRUE(temporaries(dir.path()).empty());

    ASSERT_TRUE(saveNow(store, request(dir / "later.md", "created\n")).asSaved());
    EXPECT_TRUE(fs::is_symlink(dir / "later.md"));
    EXPECT_EQ(test::readFile(dir / "real" / "later.md"), "created\n");
}

TEST(FileStore, ANewFileNeverReplacesOneThatAppearedMeanwhile) {
    test::TempDir dir;
    const auto file = dir / "new.md";
    const auto appear = [file](auto real) {
        return [file, real](const char* from, const char* to) {
            std::ofstream(file) << "theirs\n";  // another program, just now
            return real(from, to);
        };
    };
    const auto noReplaceUnsupported = [](const char*, const char*) { return errno = EINVAL, -1; };
    // With RENAME_NOREPLACE, without (a hard link refuses instead), and
    // without with nothing in the way.
    for (const int variant : {0, 1, 2}) {
        SCOPED_TRACE(variant);
        fs::remove(file);
        SysCalls sys = realSysCalls();
        if (variant == 0) sys.renameNoReplace = appear(sys.renameNoReplace);
        if (variant > 0) sys.renameNoReplace = noReplaceUnsupported;
        if (variant == 1) sys.link = appear(sys.link);
        FileStore store(sys);
        const auto outcome = saveNow(store, request(file, "mine\n"));
        EXPECT_TRUE(temporaries(dir.path()).empty());
        if (variant == 2) {
            ASSERT_TRUE(outcome.asSaved()) << outcome.description();
            EXPECT_EQ(test::readFile(file), "mine\n");
            EXPECT_EQ(fs::hard_link_count(file), 1u);
            continue;
        }
        ASSERT_TRUE(outcome.asFailure()) << outcome.description();
        EXPECT_EQ(outcome.asFailure()->kind, Kind::replace);
        EXPECT_NE(outcome.asFailure()->message.find("POSIX 17: "), std::string::npos);
        EXPECT_EQ(test::readFile(file), "theirs\n");
    }
}

// A save removes the old temporary files that killed saves left beside the
// file (which files count is removeStaleTemporaryFiles' business, tested with
// it); a young one may be another instance's save in progress.
TEST(FileStore, ASaveRemovesOldTemporaryFilesOfKilledSaves) {
    using namespace std::chrono_literals;
    test::TempDir dir;
    const auto file = dir.write("doc.md", "old");
    const auto old = dir / temporaryFileName("doc.md", makeUUID());
    const auto young = dir.write(temporaryFileName("doc.md", makeUUID()), "saving");
    test::setModifiedAgo(young, 10min);
    for (const bool waiting : {true, false}) {
        SCOPED_TRACE(waiting ? "saveAndWait" : "save");
        test::setModifiedAgo(dir.write(old.filename().native(), "killed"), 2h);
        {
            FileStore store;
            SaveOutcome outcome = SaveOutcome::failed(SaveFailure::coordination("not run"));
            if (waiting) {
                test::runOffMainThread([&] { outcome = store.saveAndWait(request(file, "new")); });
            } else {
                outcome = saveNow(store, request(file, "new"));
            }
            ASSERT_TRUE(outcome.asSaved());
        }
        // The tidying runs on the store's queue once the outcome is handed
        // over: give it a few seconds at most.
        const std::vector<std::string> expected{young.filename()};
        for (int i = 0; i < 500 && temporaries(dir.path()) != expected; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(temporaries(dir.path()), expected);
    }
}

// A process that saves in a loop is killed at random moments; the file must
// always hold one save's bytes in full. (A temporary file may stay behind: a
// killed process cleans up nothing.)
TEST(FileStoreCrashConsistency, AKilledSaveLeavesEitherTheOldOrTheNewBytes) {
    test::TempDir dir;
    const auto file = dir / "doc.md";
    std::string first;
    std::string second;
    for (int i = 0; first.size() < 384 * 1024; ++i)
        first += "line " + std::to_string(i) + " of the first text\n";
    for (int i = 0; second.size() < 256 * 1024; ++i) second += "第二版 " + std::to_string(i) + "\n";
    std::ofstream(file) << first;

    const auto seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    int killedMidSave = 0;
    for (int round = 0; round < 16; ++round) {
        int progress[2];
        ASSERT_EQ(::pipe2(progress, O_CLOEXEC), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(progress[0]);
            // Saves the way the document's synchronous path does, from a
            // thread that is not the main thread.
            std::thread saver([&] {
                FileStore store;
                for (int i = 0; i < 100000; ++i) {
                    const auto outcome =
                        store.saveAndWait(request(file, i % 2 == 0 ? second : first));
                    if (!outcome.asSaved()) ::_exit(3);
                    if (::write(progress[1], "s", 1) != 1) ::_exit(4);
                }
            });
            saver.join();
            ::_exit(0);
        }
        ::close(progress[1]);
        // Let it finish a few saves, then kill it somewhere in a later one.
        const int saves = 1 + static_cast<int>(random() % 3);
        char mark;
        for (int i = 0; i < saves; ++i) {
            struct pollfd ready = {progress[0], POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(test::waitLimit.count() * 1000)) != 1) {
                ::kill(child, SIGKILL);
                ::waitpid(child, nullptr, 0);
                FAIL() << "the saving process made no progress";
            }
            ASSERT_EQ(::read(progress[0], &mark, 1), 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 6000));  // a random moment
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(progress[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving process ended on its own: " << status;

        const auto content = test::readFile(file);
        ASSERT_TRUE(content == first || content == second)
            << "round " << round << ": " << content.size() << " bytes";
        const auto left = temporaries(dir.path());
        EXPECT_LE(left.size(), 1u);
        killedMidSave += static_cast<int>(left.size());
        for (const auto& name : left) fs::remove(dir / name);
    }
    RecordProperty("killedWithATemporaryFile", killedMidSave);
}

}  // namespace
}  // namespace larkspin
