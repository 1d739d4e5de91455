#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Protocol/Navigation/ContextMenuEntry.hpp"

typedef struct _WebKitContextMenu WebKitContextMenu;
typedef struct _GtkWidget GtkWidget;

namespace larkspin {

// Takes out of the reader web view's context menu the items that make no
// sense in a reader: everything that navigates, reloads, downloads or opens a
// new window (the reader's only navigation is its entry page). What remains
// (copy, select all, copy link or image, spelling, input methods…) stays.
namespace ReaderContextMenu {

// Whether WebKit's stock action is removed: open link, open link / image /
// frame / video / audio in a new window, download linked file / image /
// video / audio, go back, go forward, stop, reload.
bool isInert(int stockAction);

// keptContextMenuEntries applied in place to a WebKit menu. Main thread.
void removeInertItems(WebKitContextMenu* menu);

// The entries of a WebKit menu's top level.
std::vector<ContextMenuEntry> entriesOf(WebKitContextMenu* menu);

// An item the window adds at the end of the menu: it activates the window
// action `action` ("win.…") from the widget the menu opened on, so that it
// reaches the window of that widget's document. The window layer says which.
struct WindowItem {
    std::string title;       // localised
    std::string action;      // detailed action name
    std::string identifier;  // the item's own identifier
    bool operator==(const WindowItem&) const = default;
};

// What appendWindowItems() does to a menu with these top-level entries:
// nothing when the first window item is already there; otherwise a separator
// when the menu is not empty, then the items.
struct AppendPlan {
    bool separator = false;
    bool items = false;
    friend bool operator==(const AppendPlan&, const AppendPlan&) = default;
};
AppendPlan planAppend(std::span<const ContextMenuEntry> entries, std::string_view firstIdentifier);

// Adds `items` to a menu that is about to open, as planAppend() says.
// Activating one activates its window action from `actionSource`, when that
// widget still exists. Main thread.
void appendWindowItems(WebKitContextMenu* menu, GtkWidget* actionSource,
                       const std::vector<WindowItem>& items);

}  // namespace ReaderContextMenu

}  // namespace larkspin
