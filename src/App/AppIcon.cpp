#include "App/AppIcon.hpp"

#include <string>

#include "App/BuildInfo.hpp"

namespace larkspin::AppIcon {

std::vector<std::filesystem::path> candidates(const std::filesystem::path& executable) {
    std::vector<std::filesystem::path> list;
    if (executable.empty()) return list;
    const std::filesystem::path folder = executable.parent_path();
    list.push_back(folder / "share" / "icons");
    list.push_back((folder / ".." / "share" / "icons").lexically_normal());
    return list;
}

std::optional<std::filesystem::path> locateFolder() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    const std::filesystem::path icon = std::filesystem::path("hicolor") / "scalable" / "apps" /
                                       (std::string(BuildInfo::applicationId) + ".svg");
    for (const auto& candidate : candidates(executable)) {
        std::error_code kind;
        if (std::filesystem::is_regular_file(candidate / icon, kind)) return candidate;
    }
    return std::nullopt;
}

}  // namespace larkspin::AppIcon
