#include <fmt/format.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <system_error>

#include "Platform/Text/Iso8601.hpp"
#include "Platform/UserDefaults.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono;
using Resolution = RecoveryDraft::Resolution;
using test::runTask;

const std::string kA = "AAAAAAAA-0000-4000-8000-000000000001";
const std::string kB = "BBBBBBBB-0000-4000-8000-000000000002";
const std::string kC = "CCCCCCCC-0000-4000-8000-000000000003";

const Date kNow = *Iso8601::parse("2024-06-01T12:00:00Z");

RecoveryDraft draft(std::string id, Date updatedAt, std::optional<std::string> content = "text") {
    RecoveryDraft d;
    d.draftID = std::move(id);
    d.encoding = "utf8";
    d.lineEnding = "lf";
    d.content = std::move(content);
    d.sourceRevision = 2;
    d.createdAt = updatedAt;
    d.updatedAt = updatedAt;
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

std::vector<std::string> namesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

class RecoveryStoreTest : public ::testing::Test {
protected:
    std::filesystem::path folder() const { return dir.path() / "data" / "Recovery"; }
    std::filesystem::path fileOf(const std::string& id) const { return folder() / (id + ".json"); }
    void put(const RecoveryDraft& d) { RecoveryStore::writeAtomically(d, folder()); }
    // A file written under another name than the identifier inside it.
    void putAs(const std::string& fileName, const RecoveryDraft& d) {
        std::filesystem::create_directories(folder());
        dir.write("data/Recovery/" + fileName, d.encoded());
    }

    test::TempDir dir;
    RecoveryStore store{dir.path() / "data" / "Recovery"};
};

TEST(RecoveryStoreLocation, ChoosesTheFolderByTestHostThenScenario) {
    test::TempDir dir;
    UserDefaults defaults(dir / "prefs.json");
    const std::filesystem::path base = std::filesystem::path(g_get_user_data_dir()) / "Larkspin";
    EXPECT_EQ(RecoveryStore::defaultDirectory(defaults, false), base / "Recovery");
    defaults.setString("MDScenario", "");
    EXPECT_EQ(RecoveryStore::defaultDirectory(defaults, false), base / "Recovery-scenario");
    EXPECT_EQ(RecoveryStore::defaultDirectory(defaults, true), base / "Recovery-tests");
    EXPECT_EQ(RecoveryStore::defaultDirectory(),
              base / "Recovery-tests");  // this process is a test host
    EXPECT_FALSE(std::filesystem::exists(base / "Recovery-tests"));
}

TEST_F(RecoveryStoreTest, AMissingFolderIsAnEmptyStoreAndNothingIsLogged) {
    test::LogCapture logs;
    EXPECT_TRUE(runTask(store.allDrafts()).empty());
    EXPECT_TRUE(runTask(store.unresolvedDrafts()).empty());
    EXPECT_EQ(runTask(store.purgeExpiredResolved(kNow, 604800)), 0);
    EXPECT_EQ(runTask(store.clearResolved()), 0);
    EXPECT_EQ(runTask(store.load(kA)), std::nullopt);
    runTask(store.markResolved(kA, Resolution::closed, kNow));
    EXPECT_TRUE(logs.records().empty());
    EXPECT_FALSE(std::filesystem::exists(folder()));
}

TEST_F(RecoveryStoreTest, WritesPrivateFilesIntoAPrivateFolderAndReadsThemBack) {
    test::LogCapture logs;
    const RecoveryDraft d = draft(kA, kNow);
    runTask(store.write(d));
    EXPECT_EQ(modeOf(folder()), 0700u);
    EXPECT_EQ(modeOf(fileOf(kA)), 0600u);
    EXPECT_EQ(test::readFile(fileOf(kA)), d.encoded());
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{kA + ".json"});
    EXPECT_EQ(runTask(store.load(kA)), d);
    EXPECT_TRUE(logs.contains(
        "recovery",
        fmt::format("草稿 AAAAAAAA 已写：{} 字节 revision=2 resolved=false", d.encoded().size())));

    RecoveryDraft newer = d;
    newer.content = "newer";
    runTask(store.write(newer));
    EXPECT_EQ(runTask(store.load(kA))->content, "newer");
    EXPECT_EQ(namesIn(folder()).size(), 1u);
}

TEST_F(RecoveryStoreTest, ListsOnlyDraftFilesAndSkipsWhatItCannotRead) {
    put(draft(kA, kNow));
    dir.write("data/Recovery/.hidden.json", draft(kB, kNow).encoded());
    dir.write("data/Recovery/" + kB + ".JSON", draft(kB, kNow).encoded());
    dir.write("data/Recovery/." + kB + ".json.tmp-" + kC, draft(kB, kNow).encoded());
    dir.write("data/Recovery/notes.txt", "x");
    dir.write("data/Recovery/other.json", R"({"hello":"world"})");
    RecoveryDraft future = resolved(kC, kNow - 30 * 24h);
    future.schemaVersion = 2;
    put(future);
    std::filesystem::create_directory(folder() / "folder.json");

    test::LogCapture logs;
    EXPECT_EQ(ids(runTask(store.allDrafts())), std::vector<std::string>{kA});
    EXPECT_TRUE(logs.contains("recovery", "草稿 other.js 解析失败："));
    EXPECT_TRUE(logs.contains("recovery", "草稿 CCCCCCCC schema 2 高于本版本支持的 1，跳过"));

    // Never deleted, and logged again at every listing.
    logs.clear();
    EXPECT_EQ(runTask(store.clearResolved()), 0);
    EXPECT_EQ(runTask(store.purgeExpiredResolved(kNow, 0)), 0);
    EXPECT_TRUE(std::filesystem::exists(folder() / "other.json"));
    EXPECT_TRUE(std::filesystem::exists(fileOf(kC)));
    EXPECT_TRUE(logs.contains("recovery", "草稿 other.js 解析失败："));
}

TEST_F(RecoveryStoreTest, UnresolvedDraftsComeLeastRecentlyUpdatedFirst) {
    put(draft(kA, kNow + 2s));
    put(draft(kB, kNow));
    put(draft(kC, kNow + 1s));
    put(resolved("DDDDDDDD-0000-4000-8000-000000000004", kNow - 5s));
    put(draft("EEEEEEEE-0000-4000-8000-000000000005", kNow - 9s,
              std::nullopt));  // nothing to restore
    EXPECT_EQ(ids(runTask(store.unresolvedDrafts())), (std::vector<std::string>{kB, kC, kA}));

    // Equal dates keep the listing order.
    put(draft(kA, kNow));
    put(draft(kC, kNow));
    std::vector<std::string> listed;
    for (const auto& id : ids(runTask(store.allDrafts()))) {
        if (id == kA || id == kB || id == kC) listed.push_back(id);
    }
    EXPECT_EQ(ids(runTask(store.unresolvedDrafts())), listed);
}

TEST_F(RecoveryStoreTest, MarkingResolvedDropsTheTextAndKeepsTheRest) {
    RecoveryDraft d = draft(kA, kNow - 1h);
    d.schemaVersion = 0;
    d.createdAt = kNow - 2h;
    put(d);
    test::LogCapture logs;
    runTask(store.markResolved(kA, Resolution::saved, kNow));
    auto after = runTask(store.load(kA));
    ASSERT_TRUE(after);
    RecoveryDraft expected = d;
    expected.content.reset();
    expected.resolvedAt = kNow;
    expected.updatedAt = kNow;
    expected.resolution = Resolution::saved;
    EXPECT_EQ(*after, expected);
    EXPECT_TRUE(logs.contains("recovery", "草稿 AAAAAAAA 已解决：saved"));

    runTask(store.markResolved(kA, Resolution::closed, kNow + 1h));  // again: the new one wins
    EXPECT_EQ(runTask(store.load(kA))->resolution, Resolution::closed);
    EXPECT_EQ(runTask(store.load(kA))->resolvedAt, kNow + 1h);

    logs.clear();
    runTask(store.markResolved(kB, Resolution::saved, kNow));  // no such draft
    EXPECT_TRUE(logs.records().empty());
    EXPECT_FALSE(std::filesystem::exists(fileOf(kB)));
}

TEST_F(RecoveryStoreTest, AFailedResolveIsLoggedAndLeavesTheDraftAsItWas) {
    put(draft(kA, kNow));
    SysCalls sys = realSysCalls();
    sys.rename = [](const char*, const char*) {
        errno = EIO;
        return -1;
    };
    RecoveryStore failing(folder(), sys);
    test::LogCapture logs;
    runTask(failing.markResolved(kA, Resolution::saved, kNow));
    EXPECT_TRUE(logs.contains("recovery", "草稿 AAAAAAAA 标记解决失败："));
    EXPECT_FALSE(logs.contains("recovery", "已解决"));
    EXPECT_EQ(runTask(store.load(kA))->content, "text");
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{kA + ".json"});  // no temporary file left
}

TEST_F(RecoveryStoreTest, FailedWritesThrowTheSystemErrorAndLeaveNoTemporaryFile) {
    put(draft(kA, kNow));
    SysCalls sys = realSysCalls();
    sys.fsync = [](int) {
        errno = ENOSPC;
        return -1;
    };
    RecoveryStore failing(folder(), sys);
    EXPECT_THROW(runTask(failing.write(draft(kA, kNow + 1h))),
                 std::system_error);  // to the awaiter
    EXPECT_EQ(runTask(store.load(kA))->updatedAt, kNow);

    // The destination is a folder: the rename's error, and no temporary file.
    std::filesystem::create_directory(fileOf(kB));
    try {
        RecoveryStore::writeAtomically(draft(kB, kNow), folder());
        ADD_FAILURE() << "wrote over a folder";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().category(), std::generic_category());
        EXPECT_EQ(error.code().value(), EISDIR);
    }
    EXPECT_EQ(namesIn(folder()), (std::vector<std::string>{kA + ".json", kB + ".json"}));

    // The folder cannot be made: nothing is written.
    dir.write("file", "");
    EXPECT_THROW(RecoveryStore::writeAtomically(draft(kC, kNow), dir / "file" / "Recovery"),
                 std::system_error);
}

TEST_F(RecoveryStoreTest, IdentifiersThatAreNotUuidsNeverNameAFile) {
    RecoveryDraft evil = draft("../escaped", kNow);
    try {
        RecoveryStore::writeAtomically(evil, folder());
        ADD_FAILURE() << "wrote a draft named ../escaped";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EINVAL);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "data" / "escaped.json"));
    EXPECT_FALSE(std::filesystem::exists(folder()));

    // A file that exists outside the folder is not reached by load, resolve or remove.
    dir.write("data/outside.json", draft(kA, kNow).encoded());
    put(draft(kA, kNow));
    EXPECT_EQ(runTask(store.load("../outside")), std::nullopt);
    runTask(store.markResolved("../outside", Resolution::closed, kNow));
    runTask(store.remove("../outside"));
    EXPECT_EQ(test::readFile(dir / "data" / "outside.json"), draft(kA, kNow).encoded());
    EXPECT_EQ(runTask(store.load(kA))->content, "text");

    // A draft whose identifier is not canonical is unreadable.
    std::string lower = draft(kA, kNow).encoded();
    lower.replace(lower.find(kA), kA.size(), "aaaaaaaa-0000-4000-8000-000000000001");
    dir.write("data/Recovery/" + kB + ".json", lower);
    test::LogCapture logs;
    EXPECT_EQ(ids(runTask(store.allDrafts())), std::vector<std::string>{kA});
    EXPECT_TRUE(logs.contains("recovery", "草稿 BBBBBBBB 解析失败："));

    runTask(store.remove(kA));
    EXPECT_FALSE(std::filesystem::exists(fileOf(kA)));
}

TEST_F(RecoveryStoreTest, PurgeKeepsDraftsResolvedWithinTheRetention) {
    put(resolved(kA, kNow - 604800s));  // exactly the retention: kept
    put(resolved(kB, kNow - 604801s));  // a second more: deleted
    put(draft(kC, kNow - 30 * 24h));    // unresolved, however old: kept
    put(draft("DDDDDDDD-0000-4000-8000-000000000004", kNow - 30 * 24h, std::nullopt));
    RecoveryDraft ancient = resolved("EEEEEEEE-0000-4000-8000-000000000005", kNow);
    ancient.resolvedAt = distantPast();  // far beyond what nanoseconds span from now
    put(ancient);
    test::LogCapture logs;
    EXPECT_EQ(runTask(store.purgeExpiredResolved(kNow, 604800)), 2);
    EXPECT_TRUE(logs.contains("recovery", "清理过期的已解决草稿 2 条"));
    EXPECT_EQ(namesIn(folder()),
              (std::vector<std::string>{kA + ".json", kC + ".json",
                                        "DDDDDDDD-0000-4000-8000-000000000004.json"}));

    logs.clear();
    EXPECT_EQ(runTask(store.clearResolved()), 1);
    EXPECT_TRUE(logs.records().empty());
    EXPECT_EQ(namesIn(folder()), (std::vector<std::string>{
                                     kC + ".json", "DDDDDDDD-0000-4000-8000-000000000004.json"}));
}

TEST_F(RecoveryStoreTest, PurgeAndClearDeleteTheFileThatWasListed) {
    // A resolved draft kept under another name names the identifier of a
    // draft that is still unresolved: deleting by the inner identifier would
    // destroy the unsaved text.
    put(draft(kA, kNow));
    putAs(kB + ".json", resolved(kA, kNow - 30 * 24h));
    EXPECT_EQ(runTask(store.purgeExpiredResolved(kNow, 604800)), 1);
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{kA + ".json"});
    EXPECT_EQ(runTask(store.load(kA))->content, "text");

    putAs(kC + ".json", resolved(kA, kNow));
    EXPECT_EQ(runTask(store.clearResolved()), 1);
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{kA + ".json"});

    // Resolving through a file that holds another identifier would rewrite
    // that identifier's draft: nothing happens.
    putAs(kC + ".json", draft(kA, kNow, "other text"));
    runTask(store.markResolved(kC, Resolution::closed, kNow));
    EXPECT_EQ(runTask(store.load(kA))->content, "text");
    EXPECT_EQ(runTask(store.load(kC))->content, "other text");
}

TEST_F(RecoveryStoreTest, RemovalsThatFailAreStillCounted) {
    put(resolved(kA, kNow - 30 * 24h));
    SysCalls sys = realSysCalls();
    sys.unlink = [](const char*) {
        errno = EACCES;
        return -1;
    };
    RecoveryStore failing(folder(), sys);
    EXPECT_EQ(runTask(failing.purgeExpiredResolved(kNow, 604800)), 1);
    EXPECT_EQ(runTask(failing.clearResolved()), 1);
    EXPECT_TRUE(std::filesystem::exists(fileOf(kA)));
}

}  // namespace
}  // namespace larkspin
