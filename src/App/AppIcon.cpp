#include "App/AppIcon.hpp"

#include <string>

#include "App/BuildInfo.hpp"

namespace larkspin::AppIcon {

std::vector<std::filesystem::path> candidates(const std::filesystem::path& executable) {
    std::vector<std::filesystem::path> list;
    if (executable.empty()) return list;
    std::filesystem::path level = executable.parent_path();
    for (int up = 0; up < 6 && !level.empty(); ++up) {
        list.push_back(level / "data" / "icons");
        if (level == level.root_path()) break;
        level = level.parent_path();
    }
    return list;
}

std::optional<std::filesystem::path> locateFolder() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    const std::string file = std::string(BuildInfo::applicationId) + ".svg";
    for (const auto& candidate : candidates(executable)) {
        std::error_code kind;
        if (std::filesystem::is_regular_file(candidate / file, kind)) return candidate;
    }
    return std::nullopt;
}

}  // namespace larkspin::AppIcon
