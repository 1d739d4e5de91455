#pragma once

#include <filesystem>
#include <string>

namespace larkspin {

// Text shown to the user (titles, tabs, notices, dialogs, menus, log lines)
// from a file's name or path. On Linux a name is any bytes but "/" and NUL,
// and GTK takes only UTF-8: every such text goes through here. The file-name
// encoding is GLib's (UTF-8 unless G_FILENAME_ENCODING says otherwise); what
// does not convert becomes U+FFFD, so the result is always valid UTF-8.
namespace FileNameText {

// The whole path.
std::string path(const std::filesystem::path& file);
// The last component ("/a/b.md" gives "b.md"; "/" gives "/").
std::string baseName(const std::filesystem::path& file);

}  // namespace FileNameText

}  // namespace larkspin
