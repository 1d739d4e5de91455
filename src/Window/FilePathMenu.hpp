#pragma once

#include <gio/gio.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Web/ReaderContextMenu.hpp"

namespace larkspin {

// The two items that act on the file of the document in whose window they
// are used: copy the file's path, and show the file in the file manager. The
// same pair ends the reader web view's context menu, forms the heading
// sidebar's context menu and stands in the File menu. The items name window
// actions ("win.…") and have no target of their own: activated from a widget,
// they travel up the widget tree to the window of the document, which
// enables them only while the document has a file.
namespace FilePathMenu {

inline constexpr std::string_view copyPathIdentifier = "Orvik.file.copyPath";
inline constexpr std::string_view revealIdentifier = "Orvik.file.revealInFinder";
inline constexpr std::string_view copyPathAction = "win.copy-file-path";
inline constexpr std::string_view revealAction = "win.reveal-in-file-manager";
// The GMenu attribute that carries an item's identifier.
inline constexpr const char* identifierAttribute = "identifier";

// The pair, copy first: "menu.file.copy_path" and "menu.file.reveal_in_finder",
// as the reader web views' factory appends them to every context menu.
std::vector<ReaderContextMenu::WindowItem> describeItems();

// A new pair of GMenu items (label, detailed action, identifier attribute).
std::vector<GObjectPtr<GMenuItem>> makeItems();
// A new menu holding a new pair; the heading sidebar's context menu.
GObjectPtr<GMenu> makeContextMenu();

}  // namespace FilePathMenu

}  // namespace larkspin
