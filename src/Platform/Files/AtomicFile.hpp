#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>
#include <system_error>

#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Replaces the file at `target` with `bytes` so that, whatever happens, the
// file holds either its old or its new contents: a temporary file beside it
// (".<name>.orvik-<UUID>.tmp", created exclusively with mode 0600), written in
// full, flushed to disk, given the target's mode (or `newFileMode` for a new
// file), renamed over the target, then the folder flushed. On failure the
// temporary file is removed and the target is untouched. For the program's own
// files (preferences, session); documents go through the file store.
std::error_code writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                    mode_t newFileMode = 0644,
                                    const SysCalls& sys = realSysCalls());

}  // namespace larkspin
