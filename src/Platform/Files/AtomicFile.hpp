#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Replaces the file at `target` with `bytes` so that, whatever happens, the
// file holds either its old or its new contents: a temporary file beside it
// (".<name>.orvik-<UUID>.tmp", created exclusively with mode 0600), written in
// full, flushed to disk, given `mode`, renamed over the target, then the
// folder flushed. On failure the temporary file is removed and the target is
// untouched. For the program's own files (preferences, session, drafts):
// they always get our own `mode`, whatever the path held before, and a
// symbolic link at the path is replaced, never followed (into a device or
// someone else's file). Documents go through the file store, which keeps a
// document's own mode and its links.
std::error_code writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                    mode_t mode = 0600, const SysCalls& sys = realSysCalls());

// Moves a file of ours that could not be used (unparsable, too large, not a
// regular file) out of the way, keeping it for the user: to "<file>.corrupt",
// or, when an earlier one is kept there, "<file>.corrupt-2", "-3"… (never
// replacing one). Returns the name it went to.
std::expected<std::filesystem::path, std::error_code> setAsideUnusableFile(
    const std::filesystem::path& file, const SysCalls& sys = realSysCalls());

// The name of the temporary file that our writes (these and the file
// store's) put beside a file named `name`: ".<name>.orvik-<uuid>.tmp", the
// name shortened (never inside a UTF-8 sequence) where the whole would exceed
// the file system's 255 bytes.
std::string temporaryFileName(std::string_view name, std::string_view uuid);

// How long a temporary file of ours must have stood unmodified before it is
// taken for the leftover of a write that was killed: a younger one may belong
// to a save still in progress, in this or another instance.
inline constexpr std::chrono::seconds staleTemporaryAge = std::chrono::hours(1);

// Removes, beside `file`, the temporary files that writes of a file of that
// name leave behind when killed: entries named exactly as temporaryFileName
// names them (with a canonical UUID), that are regular files (a symbolic link
// is neither followed nor removed) last modified more than `minimumAge` ago.
// Failures are ignored. Lists the whole folder: never on the main thread.
// Returns how many it removed.
std::size_t removeStaleTemporaryFiles(const std::filesystem::path& file,
                                      std::chrono::seconds minimumAge = staleTemporaryAge);

// The same for every file of `folder`: removes the entries named
// ".<any name>.orvik-<UUID>.tmp" (a canonical UUID) that are regular files
// last modified more than `minimumAge` ago. For the folders of the program's
// own files (drafts, preferences) and a document's folder once per launch.
// Lists the whole folder: never on the main thread. Returns how many it
// removed.
std::size_t removeStaleTemporaryFilesIn(const std::filesystem::path& folder,
                                        std::chrono::seconds minimumAge = staleTemporaryAge);

}  // namespace larkspin
