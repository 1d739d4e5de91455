#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace larkspin {

// Where the program's own icon is found when it runs from its build tree
// (the run command starts build/release/larkspin, with no icon installed):
// the repository's data/icons beside a folder above the executable. An
// installed program finds its icon in the hicolor theme and needs none.
namespace AppIcon {

// The folders that may hold the icon, in order: data/icons in the
// executable's folder and in each of the five above it.
std::vector<std::filesystem::path> candidates(const std::filesystem::path& executable);
// The first candidate that holds "<application id>.svg" (reads the disk).
std::optional<std::filesystem::path> locateFolder();

}  // namespace AppIcon

}  // namespace larkspin
