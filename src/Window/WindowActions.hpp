#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "Platform/Actions/ActionTable.hpp"
#include "Window/DocumentMode.hpp"
#include "Window/FindRouting.hpp"

namespace larkspin {

// What a document page does for its window actions; the page fills these
// with its own members.
struct WindowActionHandlers {
    // The sidebar toggle command, and whether the sidebar shows now (its
    // item's check mark).
    std::function<void()> toggleSidebar;
    std::function<bool()> sidebarShown;
    // Carries out a find command where the routing sent it; `tag` is the
    // command's, for the editor's own find.
    std::function<void(FindRoute route, std::int64_t tag)> find;
    std::function<DocumentMode()> mode;
    std::function<bool()> hasEditor;
    // The document's file commands and whether each can run now.
    struct FileCommand {
        std::function<void()> perform;
        std::function<bool()> canPerform;
    };
    FileCommand save;
    FileCommand saveAs;
    FileCommand revert;
    // The file-path items: copy the file's path, show the file in the file
    // manager; each can run while the document has a file.
    FileCommand copyFilePath;
    FileCommand revealInFileManager;
    // Editing mode, only while source editing is on: the switch between
    // reading and editing, editing at the reading position, and the editor's
    // line numbers (shown or not, as stored).
    std::function<void()> toggleEditing;
    std::function<void()> editHere;
    std::function<void()> toggleLineNumbers;
    std::function<bool()> showsLineNumbers;
};

// The window actions of a document page ("win." actions of the selected page),
// in menu order, with their validation.
namespace WindowActions {

inline constexpr std::string_view toggleSidebar = "toggle-sidebar";
inline constexpr std::string_view showFindBar = "show-find-bar";
inline constexpr std::string_view findNext = "find-next";
inline constexpr std::string_view findPrevious = "find-previous";
inline constexpr std::string_view useSelectionForFind = "use-selection-for-find";
inline constexpr std::string_view save = "save";
inline constexpr std::string_view saveAs = "save-as";
inline constexpr std::string_view revert = "revert";
// The file-path items' actions (`FilePathMenu`).
inline constexpr std::string_view copyFilePath = "copy-file-path";
inline constexpr std::string_view revealInFileManager = "reveal-in-file-manager";
// Only with source editing on (`ModeSwitch::sourceEditingEnabled()`).
inline constexpr std::string_view toggleEditing = "toggle-editing";
inline constexpr std::string_view editHere = "edit-here";
inline constexpr std::string_view toggleLineNumbers = "toggle-line-numbers";

// The table; the editing actions are in it only while source editing is on
// when it is made, so with the switch off nothing leads into editing.
ActionTable make(WindowActionHandlers handlers);

// A window action's keyboard shortcuts, in GTK's accelerator notation.
struct Shortcut {
    std::string_view action;  // with its "win." prefix
    std::vector<std::string_view> accelerators;
};
// The editing keys are in it only while source editing is on.
std::vector<Shortcut> shortcuts();

}  // namespace WindowActions

}  // namespace larkspin
