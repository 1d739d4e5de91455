#include "Web/ReaderContextMenu.hpp"

#include <webkit/webkit.h>

#include <algorithm>
#include <array>

#include "Platform/Async/MainThread.hpp"

namespace larkspin::ReaderContextMenu {

namespace {

// Those the design names (open image in new window, download image, open
// link, open link in new window, download linked file, reload) and those with
// the same purpose here. The design's copy-subject, reveal-image and
// copy-link-with-highlight items have no counterpart in WebKitGTK.
constexpr std::array inertActions{
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_GO_BACK,
    WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD,
    WEBKIT_CONTEXT_MENU_ACTION_STOP,
    WEBKIT_CONTEXT_MENU_ACTION_RELOAD,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK,
};

}  // namespace

bool isInert(int stockAction) {
    return std::find(inertActions.begin(), inertActions.end(), stockAction) != inertActions.end();
}

std::vector<ContextMenuEntry> entriesOf(WebKitContextMenu* menu) {
    std::vector<ContextMenuEntry> entries;
    for (GList* node = webkit_context_menu_get_items(menu); node; node = node->next) {
        auto* item = static_cast<WebKitContextMenuItem*>(node->data);
        ContextMenuEntry entry;
        entry.isSeparator = webkit_context_menu_item_is_separator(item);
        entry.stockAction = static_cast<int>(webkit_context_menu_item_get_stock_action(item));
        entry.inert = isInert(entry.stockAction);
        if (entry.stockAction == WEBKIT_CONTEXT_MENU_ACTION_CUSTOM) {
            if (GAction* action = webkit_context_menu_item_get_gaction(item)) {
                entry.identifier = g_action_get_name(action);
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

void removeInertItems(WebKitContextMenu* menu) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const std::vector<bool> kept = keptContextMenuEntries(entriesOf(menu));
    std::vector<WebKitContextMenuItem*> doomed;
    std::size_t index = 0;
    for (GList* node = webkit_context_menu_get_items(menu); node; node = node->next, ++index) {
        if (!kept[index]) doomed.push_back(static_cast<WebKitContextMenuItem*>(node->data));
    }
    for (auto* item : doomed) webkit_context_menu_remove(menu, item);
}

}  // namespace larkspin::ReaderContextMenu
