#pragma once

#include <span>
#include <vector>

#include "Protocol/Navigation/ContextMenuEntry.hpp"

typedef struct _WebKitContextMenu WebKitContextMenu;

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

}  // namespace ReaderContextMenu

}  // namespace larkspin
