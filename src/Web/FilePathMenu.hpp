#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Protocol/Navigation/ContextMenuEntry.hpp"
#include "Platform/Glib/GObjectPtr.hpp"

typedef struct _WebKitContextMenu WebKitContextMenu;

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

struct Item {
    std::string title;  // localised
    std::string_view action;
    std::string_view identifier;
};

// The pair, copy first: "menu.file.copy_path" and "menu.file.reveal_in_finder".
std::array<Item, 2> describeItems();

// What append() does to a menu with these top-level entries: nothing when
// one of them is the copy item; otherwise a separator when the menu is not
// empty, then the pair.
struct AppendPlan {
    bool separator = false;
    bool items = false;
    friend bool operator==(const AppendPlan&, const AppendPlan&) = default;
};
AppendPlan planAppend(std::span<const ContextMenuEntry> entries);

// A new pair of GMenu items (label, detailed action, identifier attribute).
std::vector<GObjectPtr<GMenuItem>> makeItems();
// A new menu holding a new pair; the heading sidebar's context menu.
GObjectPtr<GMenu> makeContextMenu();

// Adds the pair to a web view's context menu that is about to open, as
// planAppend() says. Activating an item activates its window action from
// `actionSource` (the web view), when that widget still exists. Main thread.
void append(WebKitContextMenu* menu, GtkWidget* actionSource);

}  // namespace FilePathMenu

}  // namespace larkspin
