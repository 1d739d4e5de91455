#pragma once

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

}  // namespace WholeFile

}  // namespace larkspin
