#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "Platform/Async/Task.hpp"

namespace larkspin {

// Shows a file in the desktop's file manager: org.freedesktop.FileManager1
// ShowItems over the session bus (the file manager opens its folder with the
// file selected), and when that fails, the containing folder opened in the
// default application for folders. Nothing is ever run or opened but a
// folder.
namespace FileManagerReveal {

enum class Outcome { shownInFileManager, openedFolder, failed };

// The two ways, replaceable in tests. Each ends with true when it worked.
struct Port {
    std::function<Task<bool>(std::string fileURI)> showItems;
    std::function<Task<bool>(std::string folderURI)> openFolder;
};
// D-Bus and GIO's default application for the folder.
Port systemPort();

// "file://" URIs of the file and of the folder that holds it (any bytes of
// the path are escaped, so a name that is not UTF-8 works too).
std::string fileURI(const std::filesystem::path& file);
std::string folderURI(const std::filesystem::path& file);

// Tries ShowItems, then the folder. Main thread.
Task<Outcome> reveal(std::filesystem::path file, Port port);

}  // namespace FileManagerReveal

}  // namespace larkspin
