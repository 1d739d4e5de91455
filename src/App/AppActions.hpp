#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "App/ShellDocuments.hpp"
#include "Platform/Actions/ActionTable.hpp"

namespace larkspin {

// What the application's own actions do; the application glue fills these.
struct ShellCommands {
    std::function<void()> about;
    // Null while there is no settings window: the item is then disabled.
    std::function<void()> settings;
    std::function<void()> quit;
    std::function<void()> open;
    std::function<void(std::string path)> openRecent;
    std::function<void()> help;
    // The update check; null without an updater. Enabled while the second says so.
    std::function<void()> checkForUpdates;
    std::function<bool()> canCheckForUpdates;
    // The documents the File and Edit commands act on; must outlive the table.
    ShellDocuments* documents = nullptr;
};

// The application's "app." actions of the menus (the appearance and typography
// actions are `AppearanceActions`, the window's `WindowActions`), with their
// validation: a document command is enabled while the key document can carry
// it out; Settings while a settings window exists.
namespace AppActions {

inline constexpr std::string_view about = "about";
inline constexpr std::string_view settings = "settings";
inline constexpr std::string_view quit = "quit";
inline constexpr std::string_view open = "open";
// Target: the file's path.
inline constexpr std::string_view openRecent = "open-recent";
inline constexpr std::string_view close = "close";
inline constexpr std::string_view save = "save";
inline constexpr std::string_view saveAs = "save-as";
inline constexpr std::string_view revert = "revert";
inline constexpr std::string_view copy = "copy";
inline constexpr std::string_view selectAll = "select-all";
inline constexpr std::string_view help = "help";
inline constexpr std::string_view checkForUpdates = "check-for-updates";

ActionTable make(ShellCommands commands);

}  // namespace AppActions

}  // namespace larkspin
