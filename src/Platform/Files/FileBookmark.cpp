#include "Platform/Files/FileBookmark.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/Files/FileIdentity.hpp"

namespace larkspin::FileBookmark {

namespace {

constexpr std::string_view kMagic = "LKBM";
constexpr char kVersion = 1;
constexpr std::size_t kHeaderSize = kMagic.size() + 1 + 8 + 8;

void appendU64(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
}

std::uint64_t readU64(std::string_view bytes, std::size_t at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The entry of `folder` that is the file (device, inode), if any.
std::optional<std::filesystem::path> findInFolder(const std::filesystem::path& folder,
                                                  FileIdentity wanted) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return std::nullopt;
    }
    std::optional<std::filesystem::path> found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status {};
        if (::fstatat(fd, entry->d_name, &status, 0) == 0 && FileIdentity::of(status) == wanted) {
            found = folder / name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace

std::optional<std::string> make(const std::filesystem::path& path) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec).lexically_normal();
    if (ec || absolute.empty()) return std::nullopt;
    struct stat status {};
    if (::stat(absolute.c_str(), &status) != 0) return std::nullopt;
    std::string out(kMagic);
    out += kVersion;
    const FileIdentity identity = FileIdentity::of(status);
    appendU64(out, identity.device);
    appendU64(out, identity.inode);
    out += absolute.native();
    return out;
}

std::optional<std::filesystem::path> resolve(std::string_view bookmark) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    if (bookmark.size() <= kHeaderSize || bookmark.substr(0, kMagic.size()) != kMagic ||
        bookmark[kMagic.size()] != kVersion) {
        return std::nullopt;
    }
    const FileIdentity wanted{readU64(bookmark, kMagic.size() + 1), readU64(bookmark, kMagic.size() + 9)};
    const std::string_view pathBytes = bookmark.substr(kHeaderSize);
    if (pathBytes.front() != '/' || pathBytes.find('\0') != std::string_view::npos)
        return std::nullopt;
    const std::filesystem::path path{std::string(pathBytes)};

    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && FileIdentity::of(status) == wanted) return path;
    return findInFolder(path.parent_path(), wanted);
}

}  // namespace larkspin::FileBookmark
