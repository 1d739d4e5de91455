#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Text/Date.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Platform/Async/Task.hpp"
#include "Storage/RecoveryDraft.hpp"

namespace larkspin {

class UserDefaults;

// The folder of recovery drafts, and the only code that lists, reads, resolves
// and deletes them. Every instance operation runs on the store's own serial
// executor and is awaited from the main thread; nothing is cached, each
// operation reads the folder afresh. A missing or unreadable folder is an
// empty store. Files that cannot be read as drafts (malformed, of a newer
// schema, larger than maximumFileSize, or failing in any other way) are
// skipped (and logged) every time, and never deleted; one such file never
// keeps the others from being listed.
class RecoveryStore {
public:
    // Stores the folder; touches no file (the first write creates it, 0700).
    explicit RecoveryStore(std::filesystem::path directory, const SysCalls& sys = realSysCalls());
    RecoveryStore(const RecoveryStore&) = delete;
    RecoveryStore& operator=(const RecoveryStore&) = delete;

    // $XDG_DATA_HOME/Larkspin/ + "Recovery-tests" in a test host
    // (`isTestHost()`), else "Recovery-scenario"
    // when the preference "MDScenario" holds a text, else "Recovery".
    // Creates nothing.
    static std::filesystem::path defaultDirectory(const UserDefaults& defaults, bool isTestHost);

    // Constant; readable from any thread (a document flushing its draft on
    // the main thread writes here with writeAtomically).
    const std::filesystem::path& directory() const { return directory_; }

    // Writes the draft (writeAtomically); its error is rethrown.
    Task<void> write(RecoveryDraft draft) const;
    // The draft in the file of `id`; nothing when `id` is not a valid draft
    // identifier or the file is missing or unreadable.
    Task<std::optional<RecoveryDraft>> load(std::string id) const;
    // Every readable draft, in the folder's listing order.
    Task<std::vector<RecoveryDraft>> allDrafts() const;
    // Drafts to restore: unresolved and holding content, least recently
    // updated first (equal dates keep listing order).
    Task<std::vector<RecoveryDraft>> unresolvedDrafts() const;
    // Rewrites the draft of `id` without content, resolved at `at`. Nothing
    // happens for a missing or unreadable draft, or one whose file holds
    // another identifier; a failed write is logged, never thrown.
    Task<void> markResolved(std::string id, RecoveryDraft::Resolution resolution, Date at) const;
    // Deletes the file of `id` (errors ignored).
    Task<void> remove(std::string id) const;
    // Deletes the files of drafts resolved more than `retention` seconds
    // before `now`; returns how many it tried to delete.
    Task<std::int64_t> purgeExpiredResolved(Date now, double retention) const;
    // Deletes the files of all resolved drafts; returns how many it tried.
    Task<std::int64_t> clearResolved() const;
    // Removes the temporary files that killed writes left in the drafts
    // folder and in `otherFolders` (the folders of the program's other files,
    // such as the preferences), as removeStaleTemporaryFilesIn does: only
    // ours, only regular files, only stale ones. Returns how many went.
    Task<std::size_t> removeStaleTemporaryFiles(
        std::vector<std::filesystem::path> otherFolders = {}) const;

    // Writes the draft's file in `directory` (created with its parents, 0700):
    // a temporary file beside it, created exclusively 0600, written, flushed,
    // renamed over "<draftID>.json", then the folder flushed. On failure no
    // temporary file is left and std::system_error is thrown (std::generic
    // category); a draft identifier that is not isValidID() is refused with
    // EINVAL, and a draft whose file would exceed maximumFileSize with EFBIG,
    // before anything is touched. Runs on the caller's thread.
    static void writeAtomically(const RecoveryDraft& draft, const std::filesystem::path& directory,
                                const SysCalls& sys = realSysCalls());
    // Every readable draft of `directory`, in listing order.
    static std::vector<RecoveryDraft> allDrafts(const std::filesystem::path& directory,
                                                const SysCalls& sys = realSysCalls());
    // Creates `directory` and missing parents with mode 0700.
    static std::error_code createDirectory(const std::filesystem::path& directory);

    static constexpr std::string_view fileExtension = ".json";

    // The largest draft file written or read. A draft holds a document's
    // text, and the largest document that opens editable is 20 MiB (above
    // that it is a read-only preview, which keeps no draft); the draft's JSON
    // writes a character in at most six bytes ("\u001F" for one byte), so
    // 120 MiB, plus room for the other fields and for the text's growth while
    // edited. A larger file is skipped with a log line and never read.
    static constexpr std::uint64_t maximumFileSize = 128 * 1024 * 1024;

private:
    struct Context {
        std::filesystem::path directory;
        SysCalls sys;
    };

    std::filesystem::path directory_;
    std::shared_ptr<const Context> context_;
    std::shared_ptr<SerialExecutor> executor_;
};

}  // namespace larkspin
