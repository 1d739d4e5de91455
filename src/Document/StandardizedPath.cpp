#include "Document/StandardizedPath.hpp"

#include <system_error>

namespace larkspin {

std::filesystem::path standardizedPath(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) absolute = path;
    std::filesystem::path normal = absolute.lexically_normal();
    // "/notes/" and "/notes" are one folder.
    if (normal.has_filename() || normal == normal.root_path()) return normal;
    return normal.parent_path();
}

}  // namespace larkspin
