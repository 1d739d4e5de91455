#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace larkspin {

// Where the program's own icon is found when it runs from its build tree
// (the run command starts build/release/larkspin, with no icon installed):
// the build puts it in share/icons beside the executable, laid out as an
// installed icon theme (hicolor). An installed program finds its icon in
// the desktop's theme and needs none of this.
namespace AppIcon {

// The icon folders that may hold it, in order: share/icons in the
// executable's folder, then in the folder above.
std::vector<std::filesystem::path> candidates(const std::filesystem::path& executable);
// The first candidate that holds the scalable "<application id>.svg" of the
// hicolor theme (reads the disk).
std::optional<std::filesystem::path> locateFolder();

}  // namespace AppIcon

}  // namespace larkspin
