#include <glib.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "Platform/Text/Iso8601.hpp"
#include "Platform/UserDefaults.hpp"
#include "Storage/ContainerMigration.hpp"
#include "Support/ChildProcess.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using Report = ContainerMigration::Report;

const std::string kA = "AAAAAAAA-0000-4000-8000-000000000001.json";
const std::string kB = "BBBBBBBB-0000-4000-8000-000000000002.json";
const std::string kC = "CCCCCCCC-0000-4000-8000-000000000003.json";

std::vector<std::string> namesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class ContainerMigrationTest : public ::testing::Test {
protected:
    std::filesystem::path root() const { return dir / "home/.var/app/dev.corvantel.larkspin"; }
    std::filesystem::path target() const { return dir / "data/Larkspin/Recovery"; }
    ContainerMigration migration(const SysCalls& sys = realSysCalls()) {
        return ContainerMigration(root(), defaults, dir / "data", sys);
    }
    void formerPreferences(std::string_view json) {
        std::filesystem::create_directories(root() / "config/Larkspin");
        dir.write("home/.var/app/dev.corvantel.larkspin/config/Larkspin/preferences.json", json);
    }
    void formerDraft(const std::string& name, std::string_view bytes) {
        std::filesystem::create_directories(root() / "data/Larkspin/Recovery");
        dir.write("home/.var/app/dev.corvantel.larkspin/data/Larkspin/Recovery/" + name, bytes);
    }

    test::TempDir dir;
    UserDefaults defaults{dir / "config/preferences.json"};
};

TEST_F(ContainerMigrationTest, WithoutAFormerInstallItMarksItselfDone) {
    test::LogCapture logs;
    EXPECT_EQ(migration().runIfNeeded(), (Report{.ran = true, .note = "旧容器不存在，跳过"}));
    EXPECT_TRUE(logs.contains("migration", "旧容器不存在，跳过迁移"));
    const auto marker = defaults.string(ContainerMigration::completedKey);
    ASSERT_TRUE(marker);
    EXPECT_TRUE(Iso8601::parse(*marker));
    EXPECT_TRUE(migration().isCompleted());

    // Once done it touches nothing, whatever appeared since.
    logs.clear();
    formerDraft(kA, "{}");
    EXPECT_EQ(migration().runIfNeeded(), (Report{.ran = false, .note = "已完成，跳过"}));
    EXPECT_TRUE(logs.records().empty());
    EXPECT_FALSE(std::filesystem::exists(target()));

    // A file where the former install's folder would be is no install either.
    std::filesystem::remove_all(dir / "home");
    std::filesystem::create_directories(root().parent_path());
    dir.write("home/.var/app/dev.corvantel.larkspin", "");
    defaults.remove(ContainerMigration::completedKey);
    EXPECT_EQ(migration().runIfNeeded(), (Report{.ran = true, .note = "旧容器不存在，跳过"}));
    EXPECT_TRUE(migration().isCompleted());
}

TEST_F(ContainerMigrationTest, AnUnreadableFormerInstallIsTriedAgainNextTime) {
    formerDraft(kA, "draft");
    SysCalls sys = realSysCalls();
    sys.access = [](const char*, int) {
        errno = EACCES;
        return -1;
    };
    test::LogCapture logs;
    EXPECT_EQ(migration(sys).runIfNeeded(),
              (Report{.ran = true, .note = "旧容器不可读，跳过，下次启动再试"}));
    EXPECT_TRUE(logs.contains("migration", "旧容器不可读，跳过迁移，下次启动再试"));
    EXPECT_FALSE(migration().isCompleted());
    EXPECT_FALSE(std::filesystem::exists(target()));

    EXPECT_EQ(migration().runIfNeeded().copiedDrafts, 1);
    EXPECT_TRUE(migration().isCompleted());
}

TEST_F(ContainerMigrationTest, ImportsOnlyKeysWeDoNotHave) {
    defaults.setString("typography.fontSizePx", "18");
    const std::vector<std::string> arguments{"larkspin", "-typography.lineHeight", "1.4"};
    defaults.applyArguments(arguments);  // the argument domain does not count as stored
    formerPreferences(
        R"({"typography.fontSizePx":"16","appearance.mode":"dark","list":[1,{"a":true}],)"
        R"("typography.lineHeight":"1.6","DirectoryAccess.bookmark./home/u":"AAAA",)"
        R"("ContainerMigration.completed":"2020-01-01","ContainerMigration.completedBefore":1})");
    test::LogCapture logs;
    const Report report = migration().runIfNeeded();
    EXPECT_EQ(
        report,
        (Report{
            .ran = true, .importedKeys = 3, .skippedExistingKeys = 1, .skippedBookmarkKeys = 3}));
    EXPECT_EQ(defaults.string("typography.fontSizePx"), "18");
    EXPECT_EQ(defaults.string("appearance.mode"), "dark");
    EXPECT_EQ(defaults.value("list"), nlohmann::json::parse(R"([1,{"a":true}])"));
    EXPECT_EQ(defaults.storedValues().at("typography.lineHeight"), "1.6");
    EXPECT_FALSE(defaults.contains("DirectoryAccess.bookmark./home/u"));
    EXPECT_FALSE(defaults.contains("ContainerMigration.completedBefore"));
    EXPECT_NE(defaults.string(ContainerMigration::completedKey), "2020-01-01");
    EXPECT_TRUE(logs.contains(
        "migration", "迁移完成：偏好导入 3 键（已有 1，bookmark 3）；草稿复制 0（已有 0）"));
    EXPECT_TRUE(logs.contains("migration", "旧容器没有恢复草稿目录，跳过草稿复制"));
}

TEST_F(ContainerMigrationTest, PreferencesThatAreNotAnObjectStillLetTheDraftsCome) {
    for (const char* former :
         std::initializer_list<const char*>{"[1,2]", "{\"broken\":", nullptr}) {
        SCOPED_TRACE(former ? former : "no file");
        std::filesystem::remove_all(dir / "home");
        std::filesystem::remove_all(target());
        defaults.remove(ContainerMigration::completedKey);
        if (former) formerPreferences(former);
        formerDraft(kA, "draft a");
        test::LogCapture logs;
        EXPECT_EQ(migration().runIfNeeded(), (Report{.ran = true, .copiedDrafts = 1}));
        EXPECT_TRUE(logs.contains("migration", former ? "旧偏好文件不是字典，跳过偏好导入"
                                                      : "旧容器没有偏好文件，跳过偏好导入"));
        EXPECT_TRUE(migration().isCompleted());
    }
}

// A former file nested too deep (a crash when its values are copied) or a
// FIFO (a hang when opened) is skipped, and the migration still completes,
// so that it is not met again at every launch. Run in a child, since the
// faults are a crash and a hang.
TEST_F(ContainerMigrationTest, AFormerFileThatCannotBeTakenIsSkippedAndTheMigrationCompletes) {
    const std::string deep = std::string(70'000, '[') + std::string(70'000, ']');
    for (const char* former : {"deep", "fifo"}) {
        SCOPED_TRACE(former);
        std::filesystem::remove_all(dir / "home");
        std::filesystem::remove_all(dir / "config");
        std::filesystem::remove_all(dir / "data");
        const bool fifo = std::string_view(former) == "fifo";
        if (fifo) {
            formerPreferences("");
            std::filesystem::remove(migration().preferencesFile());
            ASSERT_EQ(::mkfifo(migration().preferencesFile().c_str(), 0600), 0);
        } else {
            formerPreferences(R"({"deep":)" + deep + R"(,"appearance.mode":"dark"})");
        }
        formerDraft(kA, "draft a");
        const auto expected = fifo ? "旧偏好文件无法读取" : "旧偏好文件不是字典，跳过偏好导入";
        EXPECT_EQ(test::runInChild(
                      [&] {
                          const test::LogCapture logs;
                          UserDefaults fresh(dir / "config/preferences.json");
                          const auto report =
                              ContainerMigration(root(), fresh, dir / "data").runIfNeeded();
                          return report == Report{.ran = true, .copiedDrafts = 1} &&
                                         logs.contains("migration", expected)
                                     ? 0
                                     : 1;
                      },
                      std::chrono::seconds(10)),
                  "exit 0");
        const UserDefaults after(dir / "config/preferences.json");
        EXPECT_TRUE(after.contains(ContainerMigration::completedKey));
        EXPECT_FALSE(after.contains("appearance.mode"));
        EXPECT_EQ(test::readFile(target() / kA), "draft a");
    }
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
    EXPECT_EQ(ContainerMigration(root(), counted, dir / "data").runIfNeeded(),
              (Report{.ran = true, .importedKeys = 2000}));
    EXPECT_EQ(writes, 2);  // the keys, then the marker
    former[std::string(ContainerMigration::completedKey)] =
        *counted.string(ContainerMigration::completedKey);
    EXPECT_EQ(UserDefaults(file).storedValues(), former);
}

TEST_F(ContainerMigrationTest, CopiesDraftsThatAreNotThereYetAndNothingElse) {
    formerDraft(kA, "draft a");
    formerDraft(kB, "former b");
    formerDraft("." + kC, "hidden");
    formerDraft(kC + ".tmp-1", "temporary");
    formerDraft("notes.txt", "x");
    std::filesystem::create_directories(target());
    dir.write("data/Larkspin/Recovery/" + kB, "current b");

    EXPECT_EQ(migration().runIfNeeded(),
              (Report{.ran = true, .copiedDrafts = 1, .skippedExistingDrafts = 1}));
    EXPECT_EQ(namesIn(target()), (std::vector<std::string>{kA, kB}));
    EXPECT_EQ(test::readFile(target() / kA), "draft a");
    EXPECT_EQ(test::readFile(target() / kB), "current b");
    struct stat status {};
    ASSERT_EQ(::stat((target() / kA).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(test::readFile(root() / "data/Larkspin/Recovery" / kB),
              "former b");  // the source is untouched
}

TEST_F(ContainerMigrationTest, AFolderWithoutDraftsLeavesTheTargetUncreated) {
    formerDraft("readme.txt", "x");
    EXPECT_EQ(migration().runIfNeeded(), (Report{.ran = true}));
    EXPECT_FALSE(std::filesystem::exists(target()));
    EXPECT_TRUE(migration().isCompleted());
}

TEST_F(ContainerMigrationTest, ADraftThatFailsToCopyKeepsTheMigrationOpen) {
    formerDraft(kA, "draft a");
    formerDraft(kB, "draft b");
    formerDraft(kC, "draft c");
    for (const char* step : {"read", "rename"}) {
        SCOPED_TRACE(step);
        std::filesystem::remove_all(target());
        SysCalls sys = realSysCalls();
        if (std::string_view(step) == "read") {
            sys.open = [](const char* path, int flags, mode_t mode) {
                if (std::string_view(path).find("BBBBBBBB") != std::string_view::npos) {
                    errno = EIO;
                    return -1;
                }
                return realSysCalls().open(path, flags, mode);
            };
        } else {
            sys.rename = [](const char* from, const char* to) {
                if (std::string_view(to).find("BBBBBBBB") != std::string_view::npos) {
                    errno = ENOSPC;
                    return -1;
                }
                return realSysCalls().rename(from, to);
            };
        }
        test::LogCapture logs;
        EXPECT_EQ(migration(sys).runIfNeeded(), (Report{.ran = true, .copiedDrafts = 2}));
        EXPECT_TRUE(logs.contains("migration", "复制草稿失败：BBBBBBBB… "));
        EXPECT_FALSE(migration().isCompleted());
        // Neither a partial copy nor a temporary file that could pass for one.
        EXPECT_EQ(namesIn(target()), (std::vector<std::string>{kA, kC}));
    }

    // The next launch copies what is missing and completes.
    EXPECT_EQ(migration().runIfNeeded(),
              (Report{.ran = true, .copiedDrafts = 1, .skippedExistingDrafts = 2}));
    EXPECT_EQ(test::readFile(target() / kB), "draft b");
    EXPECT_TRUE(migration().isCompleted());
}

TEST_F(ContainerMigrationTest, ATargetFolderThatCannotBeMadeKeepsTheMigrationOpen) {
    formerDraft(kA, "draft a");
    std::filesystem::create_directories(dir / "data");
    dir.write("data/Larkspin", "a file where the folder belongs");
    test::LogCapture logs;
    EXPECT_EQ(migration().runIfNeeded(), (Report{.ran = true}));
    EXPECT_TRUE(logs.contains("migration", "建草稿目标目录失败："));
    EXPECT_FALSE(migration().isCompleted());
}

TEST(ContainerMigrationLocation, LooksInTheFlatpakHomeUnlessItRunsInOne) {
    if (::access("/.flatpak-info", F_OK) == 0) GTEST_SKIP() << "running inside a Flatpak sandbox";
    auto migration = ContainerMigration::forCurrentApp();
    ASSERT_TRUE(migration);
    EXPECT_EQ(migration->containerRoot(),
              std::filesystem::path(g_get_home_dir()) / ".var/app/dev.corvantel.larkspin");
    EXPECT_EQ(migration->preferencesFile(),
              migration->containerRoot() / "config/Larkspin/preferences.json");
    EXPECT_EQ(migration->draftSourceDirectory(),
              migration->containerRoot() / "data/Larkspin/Recovery");
    EXPECT_EQ(migration->draftTargetDirectory(),
              std::filesystem::path(g_get_user_data_dir()) / "Larkspin/Recovery");

    ::setenv("FLATPAK_ID", "dev.corvantel.larkspin", 1);
    const bool sandboxed = ContainerMigration::runsInSandbox();
    const bool none = !ContainerMigration::forCurrentApp();
    ::unsetenv("FLATPAK_ID");
    EXPECT_TRUE(sandboxed);
    EXPECT_TRUE(none);
}

}  // namespace
}  // namespace larkspin
