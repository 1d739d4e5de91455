#pragma once

#include <span>
#include <string>
#include <vector>

namespace larkspin {

// What the context-menu decisions need to know of one top-level item of a
// web view's context menu, free of WebKit's objects.
struct ContextMenuEntry {
    bool isSeparator = false;
    int stockAction = 0;     // WebKit's stock action (WebKitContextMenuAction); 0 for none
    std::string identifier;  // the item's action name for our own items; empty for WebKit's
    bool inert = false;      // navigates, reloads, downloads or opens a window: no place in a reader
    friend bool operator==(const ContextMenuEntry&, const ContextMenuEntry&) = default;
};

// The three passes over a menu's top level (submenus are not entered): drop
// the inert items; drop a separator at the top and every separator that
// follows a separator; drop a trailing separator. Returns, per entry, whether
// it stays.
std::vector<bool> keptContextMenuEntries(std::span<const ContextMenuEntry> entries);

}  // namespace larkspin
