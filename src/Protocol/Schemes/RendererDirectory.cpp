#include "Protocol/Schemes/RendererDirectory.hpp"

#include <stdlib.h>

#include "Platform/Files/FileAccessCheck.hpp"

namespace larkspin::RendererDirectory {

std::vector<std::filesystem::path> candidates(const std::optional<std::string>& override,
                                              const std::filesystem::path& executable) {
    std::vector<std::filesystem::path> list;
    if (override && !override->empty()) list.emplace_back(*override);
    if (executable.empty()) return list;
    const std::filesystem::path folder = executable.parent_path();
    list.push_back((folder / ".." / "share" / "larkspin" / "dist").lexically_normal());
    std::filesystem::path level = folder;
    for (int up = 0; up < 5 && !level.empty(); ++up) {
        list.push_back(level / "renderer" / "dist");
        if (level == level.root_path()) break;
        level = level.parent_path();
    }
    return list;
}

std::optional<std::filesystem::path> locate() {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    std::optional<std::string> override;
    if (const char* value = ::getenv(overrideVariable)) override = value;
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    for (const auto& candidate :
         candidates(override, error ? std::filesystem::path() : executable)) {
        std::error_code kind;
        if (std::filesystem::is_directory(candidate, kind)) return candidate;
    }
    return std::nullopt;
}

}  // namespace larkspin::RendererDirectory
