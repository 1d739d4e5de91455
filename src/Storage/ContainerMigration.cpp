#include "Storage/ContainerMigration.hpp"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <vector>

#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Json/BoundedJSON.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Text/Iso8601.hpp"
#include "Platform/Log.hpp"
#include "Platform/UserDefaults.hpp"
#include "Platform/Files/WholeFile.hpp"
#include "Storage/RecoveryDraft.hpp"
#include "Storage/RecoveryStore.hpp"

namespace larkspin {

namespace {
constexpr std::string_view kBookmarkPrefix = "DirectoryAccess.bookmark.";
}  // namespace

ContainerMigration::ContainerMigration(std::filesystem::path containerRoot, UserDefaults& defaults,
                                       std::filesystem::path dataHome, const SysCalls& sys)
    : containerRoot_(std::move(containerRoot)),
      defaults_(&defaults),
      dataHome_(std::move(dataHome)),
      sys_(sys) {}

bool ContainerMigration::runsInSandbox() {
    return ::access("/.flatpak-info", F_OK) == 0 || std::getenv("FLATPAK_ID") != nullptr;
}

std::optional<ContainerMigration> ContainerMigration::forCurrentApp(
    UserDefaults& defaults, std::string_view bundleIdentifier) {
    if (runsInSandbox()) return std::nullopt;
    const std::filesystem::path dataHome = g_get_user_data_dir();
    if (dataHome.empty()) return std::nullopt;
    auto root =
        std::filesystem::path(g_get_home_dir()) / ".var" / "app" / std::string(bundleIdentifier);
    return ContainerMigration(std::move(root), defaults, dataHome);
}

std::filesystem::path ContainerMigration::preferencesFile() const {
    return containerRoot_ / "config" / "Larkspin" / "preferences.json";
}

std::filesystem::path ContainerMigration::draftSourceDirectory() const {
    return containerRoot_ / "data" / "Larkspin" / "Recovery";
}

std::filesystem::path ContainerMigration::draftTargetDirectory() const {
    return dataHome_ / "Larkspin" / "Recovery";
}

bool ContainerMigration::isCompleted() const {
    return defaults_->storedValues().contains(std::string(completedKey));
}

void ContainerMigration::writeMarker() {
    defaults_->setString(completedKey, Iso8601::format(Clock::system().wallNow()));
}

ContainerMigration::Report ContainerMigration::runIfNeeded() {
    if (isCompleted()) return Report{.note = "已完成，跳过"};
    Report report{.ran = true};

    struct stat status {};
    if (sys_.stat(containerRoot_.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        report.note = "旧容器不存在，跳过";
        AppLog::migration.info("旧容器不存在，跳过迁移");
        writeMarker();
        return report;
    }
    if (sys_.access(containerRoot_.c_str(), R_OK | X_OK) != 0) {
        report.note = "旧容器不可读，跳过，下次启动再试";
        AppLog::migration.error("旧容器不可读，跳过迁移，下次启动再试");
        return report;
    }

    importPreferences(report);
    const bool everyDraft = copyRecoveryDrafts(report);
    AppLog::migration.info(
        "迁移完成：偏好导入 %ld 键（已有 %ld，bookmark %ld）；草稿复制 %ld（已有 %ld）",
        report.importedKeys, report.skippedExistingKeys, report.skippedBookmarkKeys,
        report.copiedDrafts, report.skippedExistingDrafts);
    if (everyDraft) {
        writeMarker();
    } else {
        AppLog::migration.error("有草稿未复制，不写完成标记，下次启动再试");
    }
    return report;
}

void ContainerMigration::importPreferences(Report& report) {
    // A file that cannot be read or parsed is skipped: it will not get better
    // by trying again, and the drafts must still come over.
    const auto bytes = WholeFile::readAtMost(preferencesFile(), UserDefaults::maximumFileSize, sys_);
    if (!bytes) {
        const std::error_code error = bytes.error();
        if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
            AppLog::migration.info("旧容器没有偏好文件，跳过偏好导入");
        } else {
            AppLog::migration.error("旧偏好文件无法读取（%{public}s），跳过偏好导入",
                                    error.message());
        }
        return;
    }
    std::string failure;
    const auto former = parseBoundedJSON(*bytes, failure);
    if (!former || !former->is_object()) {
        AppLog::migration.error("旧偏好文件不是字典，跳过偏好导入");
        return;
    }
    const nlohmann::json current = defaults_->storedValues();
    auto imported = nlohmann::json::object();
    for (const auto& [key, value] : former->items()) {
        if (key.starts_with(kBookmarkPrefix) || key.starts_with(completedKey)) {
            ++report.skippedBookmarkKeys;
        } else if (current.contains(key)) {
            ++report.skippedExistingKeys;
        } else {
            imported[key] = value;
            ++report.importedKeys;
        }
    }
    // One write for all of them: the store rewrites the whole file each time.
    defaults_->setValues(std::move(imported));
}

bool ContainerMigration::copyRecoveryDrafts(Report& report) {
    const auto source = draftSourceDirectory();
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(source, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
            AppLog::migration.info("旧容器没有恢复草稿目录，跳过草稿复制");
            return true;
        }
        // There may be drafts that we cannot see yet: try again next time.
        AppLog::migration.error("读取旧恢复草稿目录失败：%{public}s", ec.message());
        return false;
    }
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        std::string name = it->path().filename().native();
        if (name.ends_with(RecoveryStore::fileExtension) && !name.starts_with('.'))
            names.push_back(std::move(name));
    }
    if (names.empty()) return true;

    const auto target = draftTargetDirectory();
    if (auto error = RecoveryStore::createDirectory(target)) {
        AppLog::migration.error("建草稿目标目录失败：%{public}s", error.message());
        return false;
    }
    bool everyDraft = true;
    for (const auto& name : names) {
        const auto destination = target / name;
        struct stat existing {};
        if (sys_.stat(destination.c_str(), &existing) == 0) {
            ++report.skippedExistingDrafts;  // never overwritten
            continue;
        }
        // Copied through a temporary file and a rename, so that a copy cut
        // short never leaves a partial draft that a later run takes as present.
        auto bytes = WholeFile::readAtMost(source / name, RecoveryStore::maximumFileSize, sys_);
        if (!bytes && bytes.error() == std::errc::file_too_large) {
            // No draft we would ever read: copying it again at each launch
            // would not make it one.
            AppLog::migration.error("草稿过大，不复制：%{public}s…", RecoveryDraft::shortID(name));
            continue;
        }
        std::error_code error =
            bytes ? writeFileAtomically(destination, *bytes, 0600, sys_) : bytes.error();
        if (error) {
            AppLog::migration.error("复制草稿失败：%{public}s… %{public}s",
                                    RecoveryDraft::shortID(name), error.message());
            everyDraft = false;
            continue;
        }
        ++report.copiedDrafts;
    }
    return everyDraft;
}

}  // namespace larkspin
