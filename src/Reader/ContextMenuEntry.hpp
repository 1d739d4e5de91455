#pragma once

#include <string>

namespace larkspin {

// What the context-menu decisions need to know of one top-level item of a
// web view's context menu, free of WebKit's objects.
struct ContextMenuEntry {
    bool isSeparator = false;
    int stockAction = 0;     // WebKit's stock action (WebKitContextMenuAction); 0 for none
    std::string identifier;  // the item's action name for our own items; empty for WebKit's
    friend bool operator==(const ContextMenuEntry&, const ContextMenuEntry&) = default;
};

}  // namespace larkspin
