#include "Platform/Files/AtomicFile.hpp"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "Platform/Text/Uuid.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/Files/UniqueFd.hpp"

namespace larkspin {

namespace {
std::error_code lastError() { return {errno, std::generic_category()}; }

constexpr std::string_view kTemporaryMark = ".orvik-";
constexpr std::string_view kTemporaryExtension = ".tmp";
constexpr std::size_t kUUIDLength = 36;
constexpr std::size_t kLongestName = 255;

// `name` cut so that its temporary name fits in kLongestName bytes.
std::string_view shortenedForTemporary(std::string_view name) {
    const std::size_t room =
        kLongestName - 1 - kTemporaryMark.size() - kUUIDLength - kTemporaryExtension.size();
    if (name.size() <= room) return name;
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}
}  // namespace

std::error_code writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                    mode_t mode, const SysCalls& sys) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    const auto folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const auto temp = folder / temporaryFileName(target.filename().native(), makeUUID());
    // Never the mode of what the path held or led to: a link to /dev/zero
    // (0666) would make a state file anyone can write.

    UniqueFd file(sys.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600), sys);
    if (!file) return lastError();

    auto fail = [&](std::error_code ec) {
        sys.unlink(temp.c_str());
        return ec;
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = sys.write(file.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(lastError());
        }
        written += static_cast<std::size_t>(n);
    }
    if (sys.fsync(file.get()) != 0) return fail(lastError());
    if (sys.fchmod(file.get(), mode) != 0) return fail(lastError());
    if (sys.close(file.release()) != 0) return fail(lastError());
    if (sys.rename(temp.c_str(), target.c_str()) != 0) return fail(lastError());

    const UniqueFd dir(sys.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0), sys);
    if (dir) sys.fsync(dir.get());  // best effort: the rename itself has happened
    return {};
}

std::expected<std::filesystem::path, std::error_code> setAsideUnusableFile(
    const std::filesystem::path& file, const SysCalls& sys) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    constexpr int kMostKept = 1000;
    for (int number = 1; number <= kMostKept; ++number) {
        auto aside = file;
        aside += number == 1 ? std::string(".corrupt") : ".corrupt-" + std::to_string(number);
        if (sys.renameNoReplace(file.c_str(), aside.c_str()) == 0) return aside;
        if (errno == EEXIST) continue;
        if (errno != EINVAL) return std::unexpected(lastError());
        // A file system without RENAME_NOREPLACE: look first, then rename.
        struct stat existing {};
        if (::lstat(aside.c_str(), &existing) == 0) continue;
        if (sys.rename(file.c_str(), aside.c_str()) == 0) return aside;
        return std::unexpected(lastError());
    }
    return std::unexpected(std::error_code(EEXIST, std::generic_category()));
}

std::string temporaryFileName(std::string_view name, std::string_view uuid) {
    std::string out = ".";
    out += shortenedForTemporary(name);
    out += kTemporaryMark;
    out += uuid;
    out += kTemporaryExtension;
    return out;
}

namespace {

// Removes the entries of `folder` that `isOurs` names, that are regular files
// (a symbolic link is neither followed nor removed) and that were last
// modified more than `minimumAge` ago.
template <typename Predicate>
std::size_t removeStaleEntries(const std::filesystem::path& folder, std::chrono::seconds minimumAge,
                               Predicate isOurs) {
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return 0;
    DIR* listing = ::fdopendir(folderFd);
    if (!listing) {
        ::close(folderFd);
        return 0;
    }
    const auto now = std::chrono::system_clock::now();
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (!isOurs(std::string_view(entry->d_name))) continue;
        struct stat status {};
        if (::fstatat(folderFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode)) {
            continue;
        }
        const auto modified = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(status.st_mtim.tv_sec) +
                std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
        if (now - modified < minimumAge) continue;
        // unlinkat never follows a link: should the name have changed kind
        // since, nothing beyond the entry itself is touched.
        if (::unlinkat(folderFd, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(listing);
    return removed;
}

// ".<name>.orvik-<UUID>.tmp" with a non-empty name and a canonical UUID.
bool isTemporaryFileName(std::string_view entryName) {
    constexpr std::size_t tail = kTemporaryMark.size() + kUUIDLength + kTemporaryExtension.size();
    if (entryName.size() < 2 + tail || !entryName.starts_with('.') ||
        !entryName.ends_with(kTemporaryExtension)) {
        return false;
    }
    const std::string_view rest = entryName.substr(entryName.size() - tail);
    return rest.starts_with(kTemporaryMark) &&
           isCanonicalUUID(rest.substr(kTemporaryMark.size(), kUUIDLength));
}

}  // namespace

std::size_t removeStaleTemporaryFiles(const std::filesystem::path& file,
                                      std::chrono::seconds minimumAge) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    const std::string name = file.filename().native();
    if (name.empty() || name == "." || name == "..") return 0;
    std::string prefix = ".";
    prefix += shortenedForTemporary(name);
    prefix += kTemporaryMark;
    const std::size_t length = prefix.size() + kUUIDLength + kTemporaryExtension.size();

    const auto folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    return removeStaleEntries(folder, minimumAge, [&](std::string_view entryName) {
        return entryName.size() == length && entryName.starts_with(prefix) &&
               entryName.ends_with(kTemporaryExtension) &&
               isCanonicalUUID(entryName.substr(prefix.size(), kUUIDLength));
    });
}

std::size_t removeStaleTemporaryFilesIn(const std::filesystem::path& folder,
                                        std::chrono::seconds minimumAge) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    if (folder.empty()) return 0;
    return removeStaleEntries(folder, minimumAge, isTemporaryFileName);
}

}  // namespace larkspin
