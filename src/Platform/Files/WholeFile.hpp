#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <system_error>

#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Small files read whole (drafts, preferences of a former install).
namespace WholeFile {

// The bytes of the regular file at `path`, read through one descriptor
// (FileReader: no FIFO or device is ever opened); the errors are FileReader's.
std::expected<std::string, std::error_code> read(const std::filesystem::path& path,
                                                 const SysCalls& sys = realSysCalls());

// The same for a file of at most `maximumSize` bytes. A larger one is refused
// with EFBIG before anything is read or allocated (its size is taken from
// fstat of the opened descriptor), as is one that grows past the limit while
// it is read.
std::expected<std::string, std::error_code> readAtMost(const std::filesystem::path& path,
                                                       std::uint64_t maximumSize,
                                                       const SysCalls& sys = realSysCalls());

}  // namespace WholeFile

}  // namespace larkspin
