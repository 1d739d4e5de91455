#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <thread>

#include "Model/DiskVersion.hpp"
#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Async/MainThread.hpp"
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
    return SaveRequest{.url = url,
                       .data = std::move(data),
                       .expectedDiskVersion = std::move(expected),
                       .revision = 7};
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

// Sets the process's umask for the length of a test.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }

private:
    mode_t previous_;
};

TEST(FileStore, CreatesANewFileWithTheUsualModeAndReportsTheVersionReadBack) {
    test::TempDir dir;
    const ScopedUmask mask(027);
    FileStore store;
    const auto file = dir / "new.md";
    // The synchronous path, from a thread that is not the main thread.
    SaveOutcome outcome = SaveOutcome::failed(SaveFailure::replace("not run"));
    test::runOffMainThread([&] { outcome = store.saveAndWait(request(file, "# 新文件\n")); });
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();
    EXPECT_EQ(outcome.asSaved()->version, DiskVersion::read(file));
    EXPECT_EQ(outcome.asSaved()->version.contentDigest, DiskVersion::digest("# 新文件\n"));
    EXPECT_EQ(test::readFile(file), "# 新文件\n");
    EXPECT_EQ(modeOf(file), 0640u);  // as open(2) would have made it, not the 0600 of the temporary
    EXPECT_TRUE(temporaries(dir.path()).empty());

    // Empty bytes make an empty file that verifies with size 0.
    const auto empty = saveNow(store, request(dir / "empty.md", ""));
    ASSERT_TRUE(empty.asSaved()) << empty.description();
    EXPECT_EQ(empty.asSaved()->version.size, 0);
    EXPECT_EQ(empty.asSaved()->version.contentDigest, DiskVersion::digest(""));
}

TEST(FileStore, TestsForAConflictOnlyAgainstAnExpectedVersionAndByContent) {
    test::TempDir dir;
    FileStore store;
    const auto file = dir.write("notes.md", "version one\n");
    const auto expected = DiskVersion::read(file);

    // No expected version: replaced, whatever is there.
    dir.write("notes.md", "someone else's\n");
    auto outcome = saveNow(store, request(file, "mine\n"));
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();

    // Same bytes, newer date: not a conflict.
    dir.write("notes.md", "version one\n");
    const auto touched = DiskVersion::read(file);
    struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    outcome = saveNow(store, request(file, "version two\n", touched));
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();
    EXPECT_EQ(test::readFile(file), "version two\n");

    // One byte differs, same size: a conflict that names what it found and
    // writes nothing.
    dir.write("notes.md", "version One\n");
    const auto theirs = DiskVersion::read(file);
    outcome = saveNow(store, request(file, "version three\n", expected));
    ASSERT_TRUE(outcome.asConflict()) << outcome.description();
    EXPECT_EQ(outcome.asConflict()->expected, expected);
    ASSERT_TRUE(outcome.asConflict()->found.has_value());
    EXPECT_EQ(outcome.asConflict()->found->contentDigest, theirs.contentDigest);
    EXPECT_EQ(test::readFile(file), "version One\n");

    // Gone: a conflict without a found version, and nothing is created.
    fs::remove(file);
    outcome = saveNow(store, request(file, "version four\n", expected));
    EXPECT_EQ(outcome, SaveOutcome::conflict(expected, std::nullopt));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(temporaries(dir.path()).empty());
}

TEST(FileStore, TheHookRunsOnTheStoreQueueBetweenTheTemporaryWriteAndTheReplace) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "original\n");
    const auto expected = DiskVersion::read(file);
    FileStore store;
    std::vector<std::string> seen;
    bool onMain = true;
    store.setBeforeReplaceHook([&] {
        onMain = MainThread::isMainThread();
        seen = temporaries(dir.path());
        if (!seen.empty()) {
            EXPECT_EQ(modeOf(dir / seen.front()), 0600u);
        }
        dir.write("notes.md", "changed meanwhile\n");
    });

    const auto outcome = test::runTask(store.save(request(file, "mine\n", expected)));
    EXPECT_FALSE(onMain);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        seen.front(),
        std::regex(
            R"(\.notes\.md\.orvik-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\.tmp)")))
        << seen.front();
    ASSERT_TRUE(outcome.asConflict()) << outcome.description();
    EXPECT_EQ(test::readFile(file), "changed meanwhile\n");
    EXPECT_TRUE(temporaries(dir.path()).empty());

    store.setBeforeReplaceHook({});
    dir.write("notes.md", "original\n");
    EXPECT_TRUE(test::runTask(store.save(request(file, "mine\n", expected))).asSaved());
}

TEST(FileStore, ASameSizeRewriteThatKeepsItsModificationTimeIsStillAConflict) {
    // Another program rewrites the file in place while we save: same size,
    // and its modification time put back afterwards (cp -p, touch -r). Only
    // the bytes and the change time tell it apart from what we expect.
    test::TempDir dir;
    const auto file = dir.write("notes.md", "version one\n");
    const auto expected = DiskVersion::read(file);
    struct stat original {};
    ASSERT_EQ(::stat(file.c_str(), &original), 0);
    // The file has rested, as a document's file usually has when it is saved.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));

    FileStore store;
    store.setBeforeReplaceHook([&] {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "version One\n", 12, 0), 12);
        const struct timespec times[2] = {original.st_atim, original.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    });
    const auto outcome = test::runTask(store.save(request(file, "mine\n", expected)));
    ASSERT_TRUE(outcome.asConflict()) << outcome.description();
    ASSERT_TRUE(outcome.asConflict()->found.has_value());
    EXPECT_EQ(outcome.asConflict()->found->contentDigest, DiskVersion::digest("version One\n"));
    EXPECT_EQ(outcome.asConflict()->found->modificationDate, expected.modificationDate);
    EXPECT_EQ(test::readFile(file), "version One\n");
    EXPECT_TRUE(temporaries(dir.path()).empty());
}

// The system calls a save makes, in order, as far as the folder's flush is
// concerned: "rename", "link", "open-folder <fd>", "fsync <fd>".
class CallLog {
public:
    SysCalls wrap(SysCalls sys) {
        sys.rename = [this, real = sys.rename](const char* from, const char* to) {
            const int result = real(from, to);
            if (result == 0) add("rename");
            return result;
        };
        sys.renameNoReplace = [this, real = sys.renameNoReplace](const char* from, const char* to) {
            const int result = real(from, to);
            if (result == 0) add("rename");
            return result;
        };
        sys.link = [this, real = sys.link](const char* from, const char* to) {
            const int result = real(from, to);
            if (result == 0) add("link");
            return result;
        };
        sys.open = [this, real = sys.open](const char* path, int flags, mode_t mode) {
            const int fd = real(path, flags, mode);
            if (fd >= 0 && (flags & O_DIRECTORY)) add("open-folder " + std::to_string(fd));
            return fd;
        };
        sys.fsync = [this, real = sys.fsync](int fd) {
            add("fsync " + std::to_string(fd));
            return real(fd);
        };
        return sys;
    }
    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void add(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

TEST(FileStore, FlushesTheFolderAfterTheFileIsMovedIntoIt) {
    struct Case {
        const char* name;
        bool existing;       // replacing a file, or creating one
        bool renameRefuses;  // a file system without RENAME_NOREPLACE
        const char* moved;   // the call that puts the file in place
    };
    const Case cases[] = {
        {"replace", true, false, "rename"},
        {"new file", false, false, "rename"},
        {"new file by hard link", false, true, "link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const auto file = dir / "notes.md";
        std::optional<DiskVersion> expected;
        if (c.existing) expected = DiskVersion::read(dir.write("notes.md", "old\n"));
        CallLog log;
        SysCalls sys = log.wrap(realSysCalls());
        if (c.renameRefuses) {
            sys.renameNoReplace = [](const char*, const char*) { return errno = EINVAL, -1; };
        }
        FileStore store(sys);
        const auto outcome = test::runTask(store.save(request(file, "new\n", expected)));
        ASSERT_TRUE(outcome.asSaved()) << outcome.description();

        const auto calls = log.calls();
        const auto moved = std::find(calls.begin(), calls.end(), c.moved);
        ASSERT_NE(moved, calls.end());
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
    bool recheck;                                // the message is the re-check's
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
    EXPECT_EQ(failure->message.starts_with("重验磁盘版本失败："), fault.recheck)
        << failure->message;
    EXPECT_EQ(test::readFile(file), "original\n");
    EXPECT_EQ(modeOf(file), 0640u);
    EXPECT_TRUE(temporaries(dir.path()).empty());
}

bool isTemporary(const char* path) {
    return std::string_view(path).find(".orvik-") != std::string_view::npos;
}

INSTANTIATE_TEST_SUITE_P(
    Injected, FileStoreFaults,
    ::testing::Values(
        Fault{"CreateRefused", Kind::temporaryWrite, EACCES, false,
              [](SysCalls& sys, int e) {
                  sys.open = [e, real = sys.open](const char* p, int f, mode_t m) {
                      if (isTemporary(p)) return errno = e, -1;
                      return real(p, f, m);
                  };
              }},
        Fault{"DiskFull", Kind::temporaryWrite, ENOSPC, false,
              [](SysCalls& sys, int e) {
                  // The first chunk goes through, the rest does not fit.
                  sys.write = [e, wrote = std::make_shared<bool>(false)](int, const void*,
                                                                         std::size_t n) -> ssize_t {
                      if (*wrote) return errno = e, -1;
                      *wrote = true;
                      return static_cast<ssize_t>(n / 2);
                  };
              }},
        Fault{"SyncFails", Kind::temporaryWrite, EIO, false,
              [](SysCalls& sys, int e) { sys.fsync = [e](int) { return errno = e, -1; }; }},
        Fault{
            "ModeRefused", Kind::replace, EPERM, false,
            [](SysCalls& sys, int e) { sys.fchmod = [e](int, mode_t) { return errno = e, -1; }; }},
        Fault{"RenameRefused", Kind::replace, EACCES, false,
              [](SysCalls& sys, int e) {
                  sys.rename = [e](const char*, const char*) { return errno = e, -1; };
              }},
        Fault{"DestinationUnreachable", Kind::replace, EACCES, true,
              [](SysCalls& sys, int e) {
                  sys.stat = [e, real = sys.stat](const char* p, struct stat* s) {
                      if (!isTemporary(p)) return errno = e, -1;
                      return real(p, s);
                  };
              }},
        Fault{"RecheckReadFails", Kind::replace, EIO, true,
              [](SysCalls& sys, int e) {
                  sys.read = [e](int, void*, std::size_t) -> ssize_t { return errno = e, -1; };
              }}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

// Once the rename has happened, reads see what `mangle` makes of the bytes.
SysCalls afterRename(std::function<ssize_t(int, void*, std::size_t)> read) {
    SysCalls sys = realSysCalls();
    auto renamed = std::make_shared<std::atomic<bool>>(false);
    sys.rename = [renamed, real = sys.rename](const char* from, const char* to) {
        const int result = real(from, to);
        if (result == 0) *renamed = true;
        return result;
    };
    sys.read = [renamed, read, real = sys.read](int fd, void* buffer, std::size_t count) {
        return *renamed ? read(fd, buffer, count) : real(fd, buffer, count);
    };
    return sys;
}

TEST(FileStore, AVerificationFailureSaysTheFileWasReplaced) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "original\n");
    const std::string text = "new text\n";
    const auto expectedDigest = DiskVersion::digest(text);

    // The read-back differs (a flipped bit on the way back).
    FileStore flipping(afterRename([](int fd, void* buffer, std::size_t count) {
        const ssize_t n = ::read(fd, buffer, count);
        if (n > 0) static_cast<char*>(buffer)[0] ^= 0x20;
        return n;
    }));
    auto outcome = saveNow(flipping, request(file, text, DiskVersion::read(file)));
    const SaveFailure* failure = outcome.asFailure();
    ASSERT_NE(failure, nullptr) << outcome.description();
    ASSERT_EQ(failure->kind, Kind::verification);
    EXPECT_EQ(failure->expectedDigest, expectedDigest);
    ASSERT_TRUE(failure->found.has_value());
    EXPECT_EQ(*failure->found, DiskVersion::digest("New text\n"));
    // The original is gone: the message must not claim otherwise.
    EXPECT_FALSE(failure->leavesOriginalUnchanged());
    EXPECT_EQ(test::readFile(file), text);
    EXPECT_EQ(failure->description(), "写后验证失败：期望 " + expectedDigest.substr(0, 12) +
                                          "…，读到 " + failure->found->substr(0, 12) + "…");
    EXPECT_TRUE(temporaries(dir.path()).empty());

    // The read-back fails altogether.
    FileStore failing(
        afterRename([](int, void*, std::size_t) -> ssize_t { return errno = EIO, -1; }));
    outcome = saveNow(failing, request(file, "newer\n", DiskVersion::read(file)));
    ASSERT_TRUE(outcome.asFailure()) << outcome.description();
    EXPECT_EQ(*outcome.asFailure(),
              SaveFailure::verification(DiskVersion::digest("newer\n"), std::nullopt));
    EXPECT_FALSE(outcome.asFailure()->leavesOriginalUnchanged());
    EXPECT_EQ(
        outcome.asFailure()->description(),
        "写后验证失败：期望 " + DiskVersion::digest("newer\n").substr(0, 12) + "…，读到 <无>…");
    EXPECT_EQ(test::readFile(file), "newer\n");
}

TEST(FileStore, KeepsPermissionBitsOwnerAndExtendedAttributes) {
    test::TempDir dir;
    FileStore store;
    for (const mode_t mode : {0600u, 0640u, 0755u}) {
        const auto file = dir.write("private.md", "secret\n");
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        const auto outcome =
            saveNow(store, request(file, "still secret\n", DiskVersion::read(file)));
        ASSERT_TRUE(outcome.asSaved()) << outcome.description();
        EXPECT_EQ(modeOf(file), mode);
    }

    // Owner and group (we run as root, who may give a file away) and a user
    // attribute where the file system keeps them.
    const auto file = dir.write("shared.md", "text\n");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
    }
    const bool xattrs = ::setxattr(file.c_str(), "user.larkspin.tag", "blue", 4, 0) == 0;
    const auto outcome = saveNow(store, request(file, "more text\n"));
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    if (::geteuid() == 0) {
        EXPECT_EQ(status.st_uid, 1234u);
        EXPECT_EQ(status.st_gid, 5678u);
    }
    if (xattrs) {
        char value[16] = {};
        EXPECT_EQ(::getxattr(file.c_str(), "user.larkspin.tag", value, sizeof value), 4);
        EXPECT_STREQ(value, "blue");
    }
}

TEST(FileStore, AnOwnerItCannotKeepDropsTheSetIdBitsButNotTheSave) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs to give a file away";
    test::TempDir dir;
    const auto file = dir.write("tool.md", "x\n");
    ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(file.c_str(), 06755), 0);
    SysCalls sys = realSysCalls();
    sys.fchown = [](int, uid_t, gid_t) { return errno = EPERM, -1; };
    FileStore store(sys);
    const auto outcome = saveNow(store, request(file, "y\n"));
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();
    EXPECT_EQ(modeOf(file), 0755u);
}

TEST(FileStore, ASymbolicLinkStaysALinkAndItsTargetIsReplaced) {
    test::TempDir dir;
    const auto target = dir.write("real/notes.md", "old\n");
    fs::create_directories(dir / "links");
    fs::create_symlink("../real/notes.md", dir / "links" / "notes.md");
    fs::create_symlink(dir / "links" / "notes.md", dir / "chain.md");  // a link to a link
    FileStore store;

    auto outcome = saveNow(store, request(dir / "chain.md", "new\n", DiskVersion::read(target)));
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();
    EXPECT_TRUE(fs::is_symlink(dir / "chain.md"));
    EXPECT_TRUE(fs::is_symlink(dir / "links" / "notes.md"));
    EXPECT_EQ(test::readFile(target), "new\n");
    EXPECT_EQ(outcome.asSaved()->version, DiskVersion::read(target));
    EXPECT_TRUE(temporaries(dir / "real").empty());
    EXPECT_TRUE(temporaries(dir.path()).empty());

    // A dangling link: the file it names is created, the link stays.
    fs::create_symlink("real/later.md", dir / "later.md");
    outcome = saveNow(store, request(dir / "later.md", "created\n"));
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();
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

    for (const bool renameCanRefuse : {true, false}) {
        fs::remove(file);
        SysCalls sys = realSysCalls();
        if (renameCanRefuse) {
            sys.renameNoReplace = appear(sys.renameNoReplace);
        } else {
            // A file system without RENAME_NOREPLACE: a hard link refuses instead.
            sys.renameNoReplace = [](const char*, const char*) { return errno = EINVAL, -1; };
            sys.link = appear(sys.link);
        }
        FileStore store(sys);
        const auto outcome = saveNow(store, request(file, "mine\n"));
        ASSERT_TRUE(outcome.asFailure()) << outcome.description();
        EXPECT_EQ(outcome.asFailure()->kind, Kind::replace);
        EXPECT_NE(outcome.asFailure()->message.find("POSIX 17: "), std::string::npos);
        EXPECT_EQ(test::readFile(file), "theirs\n");
        EXPECT_TRUE(temporaries(dir.path()).empty());
    }

    // Without RENAME_NOREPLACE and with nothing in the way, the hard link
    // makes the file and the temporary name goes.
    fs::remove(file);
    SysCalls sys = realSysCalls();
    sys.renameNoReplace = [](const char*, const char*) { return errno = EINVAL, -1; };
    FileStore store(sys);
    const auto outcome = saveNow(store, request(file, "mine\n"));
    ASSERT_TRUE(outcome.asSaved()) << outcome.description();
    EXPECT_EQ(test::readFile(file), "mine\n");
    EXPECT_TRUE(temporaries(dir.path()).empty());
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_nlink, 1u);
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
                outcome = test::runTask(store.save(request(file, "new")));
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

TEST(SaveFailure, DescriptionsAndOutcomeText) {
    EXPECT_EQ(SaveFailure::temporaryWrite("POSIX 28: No space left on device").description(),
              "写临时文件失败：POSIX 28: No space left on device");
    EXPECT_EQ(SaveFailure::replace("x").description(), "替换原文件失败：x");
    EXPECT_EQ(SaveFailure::coordination("y").description(), "文件协调失败：y");
    EXPECT_EQ(SaveFailure::encoding().description(), "文本无法按原编码序列化。");

    const DiskVersion version{.resourceIdentifier = "00112233445566778899",
                              .size = 3,
                              .contentDigest = std::string(64, 'a')};
    EXPECT_EQ(SaveOutcome::saved(version).description(), "saved(" + version.description() + ")");
    EXPECT_EQ(SaveOutcome::conflict(version, std::nullopt).description(),
              "conflict(expected: " + version.description() + ", found: nil)");
    EXPECT_EQ(
        SaveOutcome::conflict(version, version).description(),
        "conflict(expected: " + version.description() + ", found: " + version.description() + ")");
    EXPECT_EQ(SaveOutcome::failed(SaveFailure::replace("z")).description(),
              "failed(替换原文件失败：z)");
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
