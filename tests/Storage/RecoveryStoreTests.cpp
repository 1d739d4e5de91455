#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <system_error>

#include "Platform/Text/Iso8601.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using Resolution = RecoveryDraft::Resolution;
using test::runTask;

const std::string kA = "AAAAAAAA-0000-4000-8000-000000000001";
const std::string kB = "BBBBBBBB-0000-4000-8000-000000000002";
const std::string kC = "CCCCCCCC-0000-4000-8000-000000000003";
const std::string kD = "DDDDDDDD-0000-4000-8000-000000000004";

const Date kNow = *Iso8601::parse("2024-06-01T12:00:00Z");
constexpr double kWeek = 604800;

RecoveryDraft draft(std::string id, Date updatedAt, std::optional<std::string> content = "text") {
    RecoveryDraft d;
    d.draftID = std::move(id);
    d.encoding = "utf8";
    d.lineEnding = "lf";
    d.content = std::move(content);
    d.sourceRevision = 2;
    d.createdAt = d.updatedAt = updatedAt;
    return d;
}

RecoveryDraft resolved(std::string id, Date resolvedAt) {
    RecoveryDraft d = draft(std::move(id), resolvedAt, std::nullopt);
    d.resolvedAt = resolvedAt;
    d.resolution = Resolution::saved;
    return d;
}

std::vector<std::string> ids(const std::vector<RecoveryDraft>& drafts) {
    std::vector<std::string> out;
    for (const auto& d : drafts) out.push_back(d.draftID);
    return out;
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

// A store over data/Recovery in a fresh folder; draft files are "<id>.json".
class RecoveryStoreTest : public ::testing::Test {
protected:
    fs::path folder() const { return dir / "data" / "Recovery"; }
    fs::path fileOf(const std::string& id) const { return folder() / (id + ".json"); }
    void put(const RecoveryDraft& d) { RecoveryStore::writeAtomically(d, folder()); }
    // A file written under another name than the identifier inside it.
    void putAs(const std::string& id, const RecoveryDraft& d) {
        dir.write("data/Recovery/" + id + ".json", d.encoded());
    }
    // The identifiers whose files are in the folder, sorted.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        for (auto& name : names) {
            if (name.ends_with(".json")) name.resize(name.size() - 5);
        }
        return names;
    }

    test::TempDir dir;
    RecoveryStore store{dir / "data" / "Recovery"};
};

TEST_F(RecoveryStoreTest, WritesPrivateFilesIntoAPrivateFolderAndReadsThemBack) {
    RecoveryDraft d = draft(kA, kNow);
    runTask(store.write(d));
    EXPECT_EQ(modeOf(folder()), 0700u);
    EXPECT_EQ(modeOf(fileOf(kA)), 0600u);
    EXPECT_EQ(test::readFile(fileOf(kA)), d.encoded());
    d.content = "newer";
    runTask(store.write(d));
    EXPECT_EQ(runTask(store.load(kA)), d);
    EXPECT_EQ(files(), std::vector{kA});
}

TEST_F(RecoveryStoreTest, ListsOnlyDraftFilesAndSkipsButNeverDeletesWhatItCannotRead) {
    put(draft(kA, kNow));
    for (const auto& name : {".hidden.json", "x.JSON", ".x.json.tmp-1", "notes.txt"}) {
        dir.write("data/Recovery/" + std::string(name), draft(kB, kNow).encoded());
    }
    dir.write("data/Recovery/other.json", R"({"hello":"world"})");
    RecoveryDraft future = resolved(kC, kNow - 30 * 24h);
    future.schemaVersion = 2;
    put(future);
    fs::create_directory(folder() / "folder.json");
    std::string lower = draft(kD, kNow).encoded();  // an identifier that is not canonical
    lower.replace(lower.find(kD), kD.size(), "dddddddd-0000-4000-8000-000000000004");
    dir.write("data/Recovery/" + kD + ".json", lower);

    test::LogCapture logs;
    EXPECT_EQ(ids(runTask(store.allDrafts())), std::vector{kA});
    EXPECT_TRUE(logs.contains("recovery", "草稿 other.js 解析失败："));
    EXPECT_EQ(runTask(store.clearResolved()), 0);
    EXPECT_EQ(runTask(store.purgeExpiredResolved(kNow, 0)), 0);
    EXPECT_TRUE(fs::exists(folder() / "other.json") && fs::exists(fileOf(kC)) &&
                fs::exists(fileOf(kD)));
}

// A draft file larger than any draft written (a sparse one: it costs no
// disk) is skipped unread, and one whose reading throws anything is skipped:
// neither keeps the others from being listed, loaded or resolved.
TEST_F(RecoveryStoreTest, NoSingleBadDraftFileKeepsTheOthersFromBeingListed) {
    put(draft(kA, kNow));
    put(draft(kB, kNow));
    put(draft(kC, kNow));
    put(draft(kD, kNow));
    fs::resize_file(fileOf(kB), 5ull << 30);
    std::set<int> throwing, foreign;
    std::size_t bytesRead = 0;
    SysCalls sys = realSysCalls();
    sys.open = [&](const char* path, int flags, mode_t mode) {
        const int fd = ::open(path, flags, mode);
        if (fileOf(kC) == path) throwing.insert(fd);
        if (fileOf(kD) == path) foreign.insert(fd);
        return fd;
    };
    sys.read = [&](int fd, void* buffer, std::size_t count) -> ssize_t {
        if (throwing.erase(fd)) throw std::bad_alloc();
        if (foreign.erase(fd)) throw 42;  // not even a std::exception
        const ssize_t n = ::read(fd, buffer, count);
        if (n > 0) bytesRead += static_cast<std::size_t>(n);
        return n;
    };
    sys.close = [&](int fd) {
        throwing.erase(fd);
        foreign.erase(fd);
        return ::close(fd);
    };
    RecoveryStore failing(folder(), sys);

    test::LogCapture logs;
    EXPECT_EQ(ids(runTask(failing.unresolvedDrafts())), std::vector{kA});
    EXPECT_LT(bytesRead, 1024u);  // nothing of the huge file
    EXPECT_TRUE(logs.contains("recovery", "草稿 BBBBBBBB 超过 134217728 字节"));
    EXPECT_TRUE(logs.contains("recovery", "草稿 CCCCCCCC 读取失败"));
    EXPECT_TRUE(logs.contains("recovery", "草稿 DDDDDDDD 读取失败"));
    EXPECT_EQ(runTask(failing.load(kB)), std::nullopt);
    EXPECT_EQ(runTask(failing.load(kC)), std::nullopt);
    runTask(failing.markResolved(kD, Resolution::saved, kNow));
    EXPECT_EQ(runTask(failing.purgeExpiredResolved(kNow, 0)), 0);
    EXPECT_EQ(files(), (std::vector{kA, kB, kC, kD}));  // never deleted
    EXPECT_EQ(fs::file_size(fileOf(kB)), 5ull << 30);
}

// What could not be read back is never written: a text whose draft exceeds
// the limit (each control character takes six bytes) is refused.
TEST_F(RecoveryStoreTest, ADraftLargerThanTheLimitIsRefusedBeforeAnythingIsWritten) {
    put(draft(kA, kNow, "kept"));
    RecoveryDraft huge = draft(kA, kNow, std::string(RecoveryStore::maximumFileSize / 6 + 1, '\x01'));
    try {
        put(huge);
        ADD_FAILURE() << "written";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::file_too_large);
    }
    huge.content->resize(1000);
    EXPECT_EQ(runTask(store.load(kA))->content, "kept");
    EXPECT_EQ(files(), std::vector{kA});
    put(huge);
    EXPECT_EQ(runTask(store.load(kA)), huge);
}

TEST_F(RecoveryStoreTest, MarkingResolvedDropsTheTextAndKeepsTheRest) {
    RecoveryDraft d = draft(kA, kNow - 1h);
    d.schemaVersion = 0;
    d.createdAt = kNow - 2h;
    put(d);
    runTask(store.markResolved(kA, Resolution::saved, kNow));
    RecoveryDraft expected = d;
    expected.content.reset();
    expected.resolvedAt = expected.updatedAt = kNow;
    expected.resolution = Resolution::saved;
    EXPECT_EQ(runTask(store.load(kA)), expected);

    runTask(store.markResolved(kA, Resolution::closed, kNow + 1h));  // again: the new one wins
    EXPECT_EQ(runTask(store.load(kA))->resolution, Resolution::closed);
    runTask(store.markResolved(kB, Resolution::saved, kNow));  // no such draft
    EXPECT_EQ(files(), std::vector{kA});
}

TEST_F(RecoveryStoreTest, FailedWritesLeaveTheDraftAsItWasAndNoTemporaryFile) {
    put(draft(kA, kNow));
    SysCalls sys = realSysCalls();
    sys.rename = [](const char*, const char*) { return errno = EIO, -1; };
    test::LogCapture logs;
    runTask(RecoveryStore(folder(), sys).markResolved(kA, Resolution::saved, kNow));
    EXPECT_TRUE(logs.contains("recovery", "草稿 AAAAAAAA 标记解决失败："));
    sys = realSysCalls();
    sys.fsync = [](int) { return errno = ENOSPC, -1; };
    EXPECT_THROW(runTask(RecoveryStore(folder(), sys).write(draft(kA, kNow + 1h))),
                 std::system_error);  // to the awaiter
    EXPECT_EQ(runTask(store.load(kA)), draft(kA, kNow));

    fs::create_directory(fileOf(kB));  // the destination is a folder: the rename's error
    try {
        RecoveryStore::writeAtomically(draft(kB, kNow), folder());
        ADD_FAILURE() << "wrote over a folder";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(EISDIR, std::generic_category()));
    }
    EXPECT_EQ(files(), (std::vector{kA, kB}));

    dir.write("file", "");  // the folder cannot be made
    EXPECT_THROW(RecoveryStore::writeAtomically(draft(kC, kNow), dir / "file" / "Recovery"),
                 std::system_error);
}

TEST_F(RecoveryStoreTest, IdentifiersThatAreNotUuidsNeverNameAFile) {
    EXPECT_THROW(RecoveryStore::writeAtomically(draft("../escaped", kNow), folder()),
                 std::system_error);
    EXPECT_FALSE(fs::exists(dir / "data" / "escaped.json"));

    // A file outside the folder is not reached by load, resolve or remove.
    dir.write("data/outside.json", draft(kA, kNow).encoded());
    EXPECT_EQ(runTask(store.load("../outside")), std::nullopt);
    runTask(store.markResolved("../outside", Resolution::closed, kNow));
    runTask(store.remove("../outside"));
    EXPECT_EQ(test::readFile(dir / "data" / "outside.json"), draft(kA, kNow).encoded());

    put(draft(kA, kNow));
    runTask(store.remove(kA));
    EXPECT_FALSE(fs::exists(fileOf(kA)));
}

TEST_F(RecoveryStoreTest, PurgeKeepsDraftsResolvedWithinTheRetentionAndClearKeepsUnresolved) {
    put(resolved(kA, kNow - 604800s));  // exactly the retention: kept
    put(resolved(kB, kNow - 604801s));  // a second more: deleted
    put(draft(kC, kNow - 30 * 24h));    // unresolved, however old: kept
    put(draft(kD, kNow - 30 * 24h, std::nullopt));
    RecoveryDraft ancient = resolved("EEEEEEEE-0000-4000-8000-000000000005", kNow);
    ancient.resolvedAt = distantPast();  // far beyond what nanoseconds span from now
    put(ancient);
    EXPECT_EQ(runTask(store.purgeExpiredResolved(kNow, kWeek)), 2);
    EXPECT_EQ(files(), (std::vector{kA, kC, kD}));
    EXPECT_EQ(runTask(store.clearResolved()), 1);
    EXPECT_EQ(files(), (std::vector{kC, kD}));
}

TEST_F(RecoveryStoreTest, PurgeClearAndResolveActOnTheFileThatWasListed) {
    // A resolved draft kept under another name names the identifier of a
    // draft that is still unresolved: deleting by the inner identifier would
    // destroy the unsaved text.
    put(draft(kA, kNow));
    putAs(kB, resolved(kA, kNow - 30 * 24h));
    EXPECT_EQ(runTask(store.purgeExpiredResolved(kNow, kWeek)), 1);
    putAs(kC, resolved(kA, kNow));
    EXPECT_EQ(runTask(store.clearResolved()), 1);
    EXPECT_EQ(files(), std::vector{kA});

    // Resolving through a file that holds another identifier would rewrite
    // that identifier's draft: nothing happens.
    putAs(kC, draft(kA, kNow, "other text"));
    runTask(store.markResolved(kC, Resolution::closed, kNow));
    EXPECT_EQ(runTask(store.load(kA))->content, "text");
    EXPECT_EQ(runTask(store.load(kC))->content, "other text");
}

}  // namespace
}  // namespace larkspin
