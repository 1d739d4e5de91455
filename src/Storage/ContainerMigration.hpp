#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

class UserDefaults;

// Imports, once per user, what a former sandboxed (Flatpak) install kept in
// its private home ~/.var/app/<application id>/: the preference keys we do
// not have yet (config/Larkspin/preferences.json) and the recovery drafts our
// recovery folder does not hold yet (data/Larkspin/Recovery). Never changes
// the former install's files. Runs synchronously on the main thread at
// launch, before any document opens and before drafts are restored.
class ContainerMigration {
public:
    struct Report {
        bool ran = false;  // false only when an earlier run had completed
        std::int64_t importedKeys = 0;
        std::int64_t skippedExistingKeys = 0;
        std::int64_t skippedBookmarkKeys = 0;
        std::int64_t copiedDrafts = 0;
        std::int64_t skippedExistingDrafts = 0;
        std::string note;  // empty after a run that reached the import

        bool operator==(const Report&) const = default;
    };

    // The preference whose presence marks the migration done (its value is
    // the date it was written).
    static constexpr std::string_view completedKey = "ContainerMigration.completed";

    // A migration from the former install's home `containerRoot` into
    // `defaults` and `dataHome`/Larkspin/Recovery.
    ContainerMigration(std::filesystem::path containerRoot, UserDefaults& defaults,
                       std::filesystem::path dataHome, const SysCalls& sys = realSysCalls());

    // The migration of this user: from ~/.var/app/<bundleIdentifier> into the
    // program's preferences (`defaults`) and $XDG_DATA_HOME. Nothing when this process runs
    // inside a Flatpak sandbox (there is nothing to migrate from there) or
    // when there is no data folder. Not for test hosts.
    static std::optional<ContainerMigration> forCurrentApp(
        UserDefaults& defaults, std::string_view bundleIdentifier = "dev.corvantel.larkspin");
    // /.flatpak-info exists or FLATPAK_ID is set.
    static bool runsInSandbox();

    const std::filesystem::path& containerRoot() const { return containerRoot_; }
    std::filesystem::path preferencesFile() const;
    std::filesystem::path draftSourceDirectory() const;
    std::filesystem::path draftTargetDirectory() const;

    // The stored preferences hold completedKey (any value).
    bool isCompleted() const;

    // The whole migration. The marker is written when there is no former
    // install, or when every one of its drafts was copied or was already
    // present; an unreadable former install, or a draft that could not be
    // copied, leaves it unwritten so that the next launch tries again (keys
    // and drafts already present are never imported twice). A former
    // preference file that cannot be read (not a regular file, say) or
    // parsed (also one nested too deep) is logged and skipped, and does not
    // hold the marker back.
    Report runIfNeeded();

private:
    // The keys we do not have, stored with one write.
    void importPreferences(Report& report);
    // False when some draft was not copied.
    bool copyRecoveryDrafts(Report& report);
    void writeMarker();

    std::filesystem::path containerRoot_;
    UserDefaults* defaults_;
    std::filesystem::path dataHome_;
    SysCalls sys_;
};

}  // namespace larkspin
