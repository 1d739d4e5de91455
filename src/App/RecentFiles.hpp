#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace larkspin {

// One entry of the desktop's list of recently used files, as read from it.
struct RecentEntry {
    // Empty when the entry is not a local file.
    std::filesystem::path path;
    std::string mimeType;
    // Whether this program put it on the list.
    bool registeredByUs = false;
    std::int64_t modified = 0;  // seconds since the epoch
};

// Which recent files the File menu's "Open Recent" lists.
namespace RecentFiles {

inline constexpr std::size_t limit = 10;

// Whether the program opens files of `mimeType` (Markdown and plain text).
bool isReadable(std::string_view mimeType);

// Local files this program registered, or Markdown or plain-text files, most
// recently used first, each path once, at most `limit`.
std::vector<std::filesystem::path> menuEntries(std::vector<RecentEntry> entries);

}  // namespace RecentFiles

}  // namespace larkspin
