#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// A small record that finds a file again: its absolute path and the identity
// (st_dev, st_ino) it had when the record was made. Stored as opaque bytes:
//   "LKBM", version byte 1, st_dev and st_ino as 8 bytes little-endian each,
//   then the path's bytes.
// Resolving finds the file at its path when it still has that identity, or
// the entry of the same folder that has it (the file was renamed in place).
// It gives no access rights: nothing is ever "security scoped" here.
namespace FileBookmark {

// The record of the file at `path` (made absolute), or nothing when the file
// cannot be looked at.
std::optional<std::string> make(const std::filesystem::path& path);

// Where the file of `bookmark` is now, or nothing when the record is malformed
// or of another version, or the file is neither at its path nor in its folder
// under another name.
std::optional<std::filesystem::path> resolve(std::string_view bookmark);

}  // namespace FileBookmark

}  // namespace larkspin
