#pragma once

#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Files/FileIdentity.hpp"
#include "Platform/Files/SysCalls.hpp"

// The checks on a local file that a link points at, before anything opens
// it. Markdown files open as documents in Larkspin itself and only have to
// be regular files; any other file goes to its default application, so
// programs, scripts, launchers and installers are refused outright: Larkspin
// never runs a file, and a default application for such a file may do just
// that. Everything follows symbolic links, as opening the file would.
namespace larkspin::LinkTargetCheck {

// Which file was checked: its device and inode after following links.
using larkspin::FileIdentity;

// nullopt when `file` is a regular file (after following links); otherwise
// the localised reason: missing, a folder, a pipe, socket or device, or not
// reachable.
std::optional<std::string> verifyTarget(const std::filesystem::path& file,
                                        const SysCalls& sys = realSysCalls());

// The identity of `file` when a default application may open it; otherwise
// the localised reason. On top of verifyTarget: the file is opened (without
// blocking) and its first bytes read, and it is refused when its name, its
// type by name or by content, or its execute bits make it a program
// (refusesLaunch); through symbolic links, the final file's name counts too.
std::expected<FileIdentity, std::string> inspectOtherFile(const std::filesystem::path& file,
                                                          const SysCalls& sys = realSysCalls());

// A name that marks a launcher, program, script, package or installer by its
// extension (any letter case): .desktop, .exe, .msi, .jar, .AppImage,
// .flatpakref, .deb, .rpm, .sh, .so, .so.1 and the like.
bool isRefusedName(std::string_view fileName);

// A content type of a launcher, executable, shared library, shell script,
// Windows program or installer, Java archive, AppImage, Flatpak bundle or
// reference, Debian or RPM package (or a type derived from one of them, but
// for the plain "application/x-executable", from which interpreted source
// files such as Python derive).
bool isRefusedContentType(std::string_view type);

// The whole rule: a refused name, any refused type among `contentTypes`, or
// an execute bit on a file whose type can be executable (text included).
bool refusesLaunch(std::string_view fileName, const std::vector<std::string>& contentTypes,
                   bool hasExecuteBit);

// True for a "mailto:" address with an "attach" or "attachment" parameter
// (names percent-decoded, any letter case): some mail programs attach the
// local file such a parameter names.
bool mailtoCarriesAttachment(std::string_view url);

// The file as a "file://" URI (any bytes of the path escaped).
std::string fileURI(const std::filesystem::path& file);
// The file's name and its folder as shown to the user (UTF-8 even when the
// path's bytes are not).
std::string displayName(const std::filesystem::path& file);
std::string displayFolder(const std::filesystem::path& file);

}  // namespace larkspin::LinkTargetCheck
