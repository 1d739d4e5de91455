#include "Document/Links/LinkTargetCheck.hpp"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cctype>
#include <memory>

#include "Platform/Localization.hpp"
#include "Protocol/Navigation/PercentDecoding.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin::LinkTargetCheck {

namespace {

constexpr std::size_t kSniffLength = 4096;

constexpr std::array<std::string_view, 22> kRefusedExtensions{
    "desktop",                                      // launchers
    "exe",     "com",      "bat",     "cmd", "scr", "pif", "msi", "msp",  // Windows
    "jar",     "jnlp",                              // Java
    "appimage",                                     // AppImage
    "flatpak", "flatpakref", "flatpakrepo",         // Flatpak
    "deb",     "udeb",     "rpm",                   // packages
    "sh",      "bash",     "run",                   // shell scripts, self-running installers
    "so",                                           // shared libraries
};

constexpr std::array<std::string_view, 27> kRefusedTypes{
    "application/x-desktop",
    "application/x-executable",
    "application/x-pie-executable",
    "application/x-sharedlib",
    "application/x-shellscript",
    "application/x-csh",
    "text/x-shellscript",
    "application/x-ms-dos-executable",
    "application/x-ms-ne-executable",
    "application/x-msdownload",
    "application/x-msdos-program",
    "application/vnd.microsoft.portable-executable",
    "application/x-msi",
    "application/x-bat",
    "application/x-ms-shortcut",
    "application/x-java-archive",
    "application/java-archive",
    "application/x-java-jnlp-file",
    "application/vnd.appimage",
    "application/x-iso9660-appimage",
    "application/vnd.flatpak",
    "application/vnd.flatpak.ref",
    "application/vnd.flatpak.repo",
    "application/vnd.debian.binary-package",
    "application/x-deb",
    "application/x-rpm",
    "application/x-redhat-package-manager",
};

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string unreachable(int error) {
    return L10n::format("link.reject.target_unreachable", {g_strerror(error)});
}

struct Status {
    struct stat info {};
    std::optional<std::string> refusal;
};

Status statusOf(const std::filesystem::path& file, const SysCalls& sys) {
    Status status;
    if (sys.stat(file.c_str(), &status.info) != 0) {
        const int error = errno;
        status.refusal = error == ENOENT || error == ENOTDIR
                             ? L10n::text("link.reject.target_missing")
                             : unreachable(error);
    } else if (S_ISDIR(status.info.st_mode)) {
        status.refusal = L10n::text("link.reject.target_not_file");
    } else if (!S_ISREG(status.info.st_mode)) {
        status.refusal = L10n::text("link.reject.target_special");
    }
    return status;
}

std::string guessedType(const char* name, const guchar* data, gsize length) {
    std::unique_ptr<gchar, decltype(&g_free)> type(
        g_content_type_guess(name, data, length, nullptr), &g_free);
    return type ? std::string(type.get()) : std::string();
}

}  // namespace

std::optional<std::string> verifyTarget(const std::filesystem::path& file, const SysCalls& sys) {
    return statusOf(file, sys).refusal;
}

std::expected<FileIdentity, std::string> inspectOtherFile(const std::filesystem::path& file,
                                                          const SysCalls& sys) {
    const Status status = statusOf(file, sys);
    if (status.refusal) return std::unexpected(*status.refusal);
    const std::string name = file.filename().string();
    // A link named like a document may lead to a launcher: the name at the
    // end of the links counts as much as the one in the document.
    std::error_code ignored;
    const std::string resolvedName = std::filesystem::canonical(file, ignored).filename().string();
    if (isRefusedName(name) || isRefusedName(resolvedName)) {
        return std::unexpected(L10n::text("link.reject.executable"));
    }

    // Opened without blocking, so that a pipe swapped in since the look above
    // cannot hang us; its own status must be the one just looked at.
    const int fd = sys.open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
    if (fd < 0) return std::unexpected(unreachable(errno));
    struct stat opened {};
    const bool same = sys.fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                      FileIdentity::of(opened) == FileIdentity::of(status.info);
    std::vector<guchar> head(kSniffLength);
    ssize_t length = same ? sys.read(fd, head.data(), head.size()) : 0;
    const int readError = errno;
    sys.close(fd);
    if (!same) return std::unexpected(L10n::text("link.reject.target_changed"));
    if (length < 0) return std::unexpected(unreachable(readError));

    const auto size = static_cast<gsize>(length);
    const std::vector<std::string> types{
        guessedType(name.c_str(), nullptr, 0),        // by name alone
        resolvedName.empty() ? std::string() : guessedType(resolvedName.c_str(), nullptr, 0),
        guessedType(nullptr, head.data(), size),      // by content alone
        guessedType(name.c_str(), head.data(), size)  // as the desktop will see it
    };
    const bool executeBit = (opened.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    if (refusesLaunch(name, types, executeBit)) {
        return std::unexpected(L10n::text("link.reject.executable"));
    }
    return FileIdentity::of(opened);
}

bool isRefusedName(std::string_view fileName) {
    const std::string name = asciiLowercased(fileName);
    // A shared library with its version: "libx.so.1.2".
    if (const auto at = name.find(".so."); at != std::string::npos && at > 0) {
        std::string_view rest = std::string_view(name).substr(at + 4);
        bool versioned = true;
        while (versioned && !rest.empty()) {
            const auto dot = rest.find('.');
            versioned = allDigits(rest.substr(0, dot));
            rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        }
        if (versioned) return true;
    }
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    const std::string_view extension = std::string_view(name).substr(dot + 1);
    return std::find(kRefusedExtensions.begin(), kRefusedExtensions.end(), extension) !=
           kRefusedExtensions.end();
}

bool isRefusedContentType(std::string_view type) {
    if (type.empty()) return false;
    const std::string candidate(type);
    for (const auto refused : kRefusedTypes) {
        const std::string name(refused);
        if (g_content_type_equals(candidate.c_str(), name.c_str())) return true;
        if (refused != "application/x-executable" &&
            g_content_type_is_a(candidate.c_str(), name.c_str())) {
            return true;
        }
    }
    return false;
}

bool refusesLaunch(std::string_view fileName, const std::vector<std::string>& contentTypes,
                   bool hasExecuteBit) {
    if (isRefusedName(fileName)) return true;
    for (const auto& type : contentTypes) {
        if (isRefusedContentType(type)) return true;
        if (hasExecuteBit && !type.empty() && g_content_type_can_be_executable(type.c_str())) {
            return true;
        }
    }
    return false;
}

bool mailtoCarriesAttachment(std::string_view url) {
    if (asciiLowercased(url.substr(0, 7)) != "mailto:") return false;
    std::string_view rest = url.substr(7);
    rest = rest.substr(0, rest.find('#'));
    const auto question = rest.find('?');
    if (question == std::string_view::npos) return false;
    rest = rest.substr(question + 1);
    while (!rest.empty()) {
        const auto end = rest.find_first_of("&;");
        const std::string_view pair = rest.substr(0, end);
        const std::string_view rawName = pair.substr(0, pair.find('='));
        const std::string name = asciiLowercased(percentDecoded(rawName).value_or(std::string(rawName)));
        const auto first = name.find_first_not_of(" \t");
        const auto last = name.find_last_not_of(" \t");
        if (first != std::string::npos) {
            const std::string_view trimmed = std::string_view(name).substr(first, last - first + 1);
            if (trimmed == "attach" || trimmed == "attachment") return true;
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return false;
}

std::string fileURI(const std::filesystem::path& file) {
    std::unique_ptr<gchar, decltype(&g_free)> uri(
        g_filename_to_uri(file.c_str(), nullptr, nullptr), &g_free);
    return uri ? std::string(uri.get()) : std::string();
}

std::string displayName(const std::filesystem::path& file) {
    std::unique_ptr<gchar, decltype(&g_free)> name(g_filename_display_basename(file.c_str()),
                                                   &g_free);
    return name ? std::string(name.get()) : std::string();
}

std::string displayFolder(const std::filesystem::path& file) {
    std::unique_ptr<gchar, decltype(&g_free)> name(
        g_filename_display_name(file.parent_path().c_str()), &g_free);
    return name ? std::string(name.get()) : std::string();
}

}  // namespace larkspin::LinkTargetCheck
