#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "Platform/UserDefaults.hpp"
#include "Storage/ContainerMigration.hpp"
#include "Support/ChildProcess.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using Report = ContainerMigration::Report;

const std::string kA = "AAAAAAAA-0000-4000-8000-000000000001.json";
const std::string kB = "BBBBBBBB-0000-4000-8000-000000000002.json";
const std::string kC = "CCCCCCCC-0000-4000-8000-000000000003.json";

class ContainerMigrationTest : public ::testing::Test {
protected:
    test::TempDir dir;
    const fs::path root = dir / "home/.var/app/dev.corvantel.larkspin";
    const fs::path target = dir / "data/Larkspin/Recovery";
    ContainerMigration migration(const SysCalls& sys = realSysCalls()) {
        return ContainerMigration(root, defaults, dir / "data", sys);
    }
    void formerPreferences(std::string_view json) {
        dir.write("home/.var/app/dev.corvantel.larkspin/config/Larkspin/preferences.json", json);
    }
    void formerDraft(const std::string& name, std::string_view bytes) {
        dir.write("home/.var/app/dev.corvantel.larkspin/data/Larkspin/Recovery/" + name, bytes);
    }
    std::vector<std::string> targetNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(target)) {
            names.push_back(entry.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    UserDefaults defaults{dir / "config/preferences.json"};

    void TearDown() override { EXPECT_TRUE(defaults.drainForTesting()); }
};

TEST_F(ContainerMigrationTest, WithoutAFormerInstallItMarksItselfDoneAndThenTouchesNothing) {
    EXPECT_EQ(migration().runIfNeeded(), (Report{.ran = true, .note = "旧容器不存在，跳过"}));
    EXPECT_TRUE(migration().isCompleted());
    formerDraft(kA, "{}");
    EXPECT_FALSE(migration().runIfNeeded().ran);
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(ContainerMigrationTest, AnUnreadableFormerInstallIsTriedAgainNextTime) {
    formerDraft(kA, "draft");
    SysCalls sys = realSysCalls();
    sys.access = [](const char*, int) { return errno = EACCES, -1; };
    migration(sys).runIfNeeded();
    EXPECT_FALSE(migration().isCompleted());
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(migration().runIfNeeded().copiedDrafts, 1);
    EXPECT_TRUE(migration().isCompleted());
}

TEST_F(ContainerMigrationTest, ImportsOnlyKeysWeDoNotHave) {
    defaults.setString("typography.fontSizePx", "18");
    defaults.applyArguments({"larkspin", "-typography.lineHeight", "1.4"});  // not stored
    formerPreferences(
        R"({"typography.fontSizePx":"16","appearance.mode":"dark","list":[1,{"a":true}],)"
        R"("typography.lineHeight":"1.6","DirectoryAccess.bookmark./home/u":"AAAA",)"
        R"("ContainerMigration.completed":"2020-01-01","ContainerMigration.completedBefore":1})");
    EXPECT_EQ(
        migration().runIfNeeded(),
        (Report{
            .ran = true, .importedKeys = 3, .skippedExistingKeys = 1, .skippedBookmarkKeys = 3}));
    EXPECT_EQ(defaults.string("typography.fontSizePx"), "18");
    EXPECT_EQ(defaults.value("list"), nlohmann::json::parse(R"([1,{"a":true}])"));
    EXPECT_EQ(defaults.storedValues().at("typography.lineHeight"), "1.6");
    EXPECT_FALSE(defaults.contains("DirectoryAccess.bookmark./home/u"));
    EXPECT_NE(defaults.string(ContainerMigration::completedKey), "2020-01-01");
}

// Preferences that cannot be taken (missing, not an object, nested so deep
// that copying them would crash, a FIFO that would hang the open) are
// skipped; the drafts still come and the migration completes, so that it is
// not met again at every launch. Run in a child: the faults are a crash and
// a hang.
TEST_F(ContainerMigrationTest, PreferencesThatCannotBeTakenStillLetTheDraftsCome) {
    const std::string deep = std::string(70'000, '[') + std::string(70'000, ']');
    for (const std::string& former : std::vector<std::string>{"none", "[1,2]", "{\"broken\":", R"({"deep":)" + deep + R"(,"appearance.mode":"dark"})",
          "fifo", "huge"}) {
        SCOPED_TRACE(former.substr(0, 12));
        fs::remove_all(dir / "home");
        fs::remove_all(dir / "config");
        fs::remove_all(dir / "data");
        formerDraft(kA, "draft a");
        if (former == "fifo") {
            fs::create_directories(migration().preferencesFile().parent_path());
            ASSERT_EQ(::mkfifo(migration().preferencesFile().c_str(), 0600), 0);
        } else if (former == "huge") {
            formerPreferences(R"({"appearance.mode":"dark"})");
            fs::resize_file(migration().preferencesFile(), 5ull << 30);  // sparse: no disk
        } else if (former != "none") {
            formerPreferences(former);
        }
        EXPECT_EQ(test::runInChild(
                      [&] {
                          UserDefaults fresh(dir / "config/preferences.json");
                          const auto report =
                              ContainerMigration(root, fresh, dir / "data").runIfNeeded();
                          return report == Report{.ran = true, .copiedDrafts = 1} &&
                                         fresh.drainForTesting()
                                     ? 0
                                     : 1;
                      },
                      std::chrono::seconds(10)),
                  "exit 0");
        const UserDefaults after(dir / "config/preferences.json");
        EXPECT_TRUE(after.contains(ContainerMigration::completedKey));
        EXPECT_FALSE(after.contains("appearance.mode"));
        EXPECT_EQ(test::readFile(target / kA), "draft a");
    }
}

TEST_F(ContainerMigrationTest, CopiesDraftsThatAreNotThereYetAndNothingElse) {
    formerDraft(kA, "draft a");
    formerDraft(kB, "former b");
    for (const auto& other : {"." + kC, kC + ".tmp-1", std::string("notes.txt")}) {
        formerDraft(other, "x");
    }
    dir.write("data/Larkspin/Recovery/" + kB, "current b");
    EXPECT_EQ(migration().runIfNeeded(),
              (Report{.ran = true, .copiedDrafts = 1, .skippedExistingDrafts = 1}));
    EXPECT_EQ(targetNames(), (std::vector{kA, kB}));
    EXPECT_EQ(test::readFile(target / kA), "draft a");
    EXPECT_EQ(test::readFile(target / kB), "current b");
    struct stat status {};
    ASSERT_EQ(::stat((target / kA).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(test::readFile(root / "data/Larkspin/Recovery" / kB), "former b");
}

TEST_F(ContainerMigrationTest, ADraftThatFailsToCopyKeepsTheMigrationOpen) {
    for (const std::string& name : {kA, kB, kC}) formerDraft(name, "draft " + name.substr(0, 1));
    const auto isB = [](const char* path) { return std::string_view(path).contains("BBBBBBBB"); };
    SysCalls failingRead = realSysCalls();
    failingRead.open = [=, real = failingRead.open](const char* path, int flags, mode_t mode) {
        return isB(path) ? (errno = EIO, -1) : real(path, flags, mode);
    };
    SysCalls failingRename = realSysCalls();
    failingRename.rename = [=, real = failingRename.rename](const char* from, const char* to) {
        return isB(to) ? (errno = ENOSPC, -1) : real(from, to);
    };
    for (const SysCalls& sys : {failingRead, failingRename}) {
        fs::remove_all(target);
        EXPECT_EQ(migration(sys).runIfNeeded(), (Report{.ran = true, .copiedDrafts = 2}));
        EXPECT_FALSE(migration().isCompleted());
        // Neither a partial copy nor a temporary file that could pass for one.
        EXPECT_EQ(targetNames(), (std::vector{kA, kC}));
    }
    // The next launch copies what is missing and completes.
    EXPECT_EQ(migration().runIfNeeded(),
              (Report{.ran = true, .copiedDrafts = 1, .skippedExistingDrafts = 2}));
    EXPECT_EQ(test::readFile(target / kB), "draft B");
    EXPECT_TRUE(migration().isCompleted());

    // A target folder that cannot be made keeps it open too.
    fs::remove_all(dir / "data");
    defaults.remove(ContainerMigration::completedKey);
    dir.write("data/Larkspin", "a file where the folder belongs");
    EXPECT_EQ(migration().runIfNeeded(), (Report{.ran = true}));
    EXPECT_FALSE(migration().isCompleted());
}

// A former draft larger than any draft we read is no draft: it is skipped
// unread and does not keep the migration open for ever.
TEST_F(ContainerMigrationTest, ADraftTooLargeToBeOneIsSkippedUnread) {
    formerDraft(kA, "draft a");
    formerDraft(kB, "");
    fs::resize_file(root / "data/Larkspin/Recovery" / kB, 5ull << 30);  // sparse: no disk
    test::LogCapture logs;
    EXPECT_EQ(migration().runIfNeeded(), (Report{.ran = true, .copiedDrafts = 1}));
    EXPECT_TRUE(migration().isCompleted());
    EXPECT_EQ(targetNames(), std::vector{kA});
    EXPECT_TRUE(logs.contains("migration", "草稿过大，不复制：BBBBBBBB"));
}

TEST_F(ContainerMigrationTest, ImportedKeysAreWrittenAtOnce) {
    nlohmann::json former = nlohmann::json::object();
    for (int i = 0; i < 2000; ++i) former["key." + std::to_string(i)] = i;
    formerPreferences(former.dump());
    const auto file = dir / "config/counted.json";
    int writes = 0;
    SysCalls sys = realSysCalls();
    sys.rename = [&](const char* from, const char* to) {
        if (file == to) ++writes;
        return realSysCalls().rename(from, to);
    };
    UserDefaults counted(file, sys);
    EXPECT_EQ(ContainerMigration(root, counted, dir / "data").runIfNeeded(),
              (Report{.ran = true, .importedKeys = 2000}));
    ASSERT_TRUE(counted.drainForTesting());
    // The keys, then the marker; the two may share a write.
    EXPECT_GE(writes, 1);
    EXPECT_LE(writes, 2);
    former[std::string(ContainerMigration::completedKey)] =
        *counted.string(ContainerMigration::completedKey);
    EXPECT_EQ(UserDefaults(file).storedValues(), former);
}

}  // namespace
}  // namespace larkspin
