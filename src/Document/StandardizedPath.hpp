#pragma once

#include <filesystem>

namespace larkspin {

// A path made absolute (against the working folder) and lexically
// normalised, without a trailing separator; symbolic links are not resolved.
// The one form in which documents compare and log their files.
std::filesystem::path standardizedPath(const std::filesystem::path& path);

}  // namespace larkspin
