#include "Web/ReaderContextMenu.hpp"

#include <webkit/webkit.h>

#include <algorithm>
#include <array>
#include <string>

#include "Platform/Async/MainThread.hpp"

namespace larkspin::ReaderContextMenu {

namespace {

struct Activation {
    GWeakRef source;
    std::string action;
};

void activate(GSimpleAction*, GVariant*, gpointer data) {
    auto* activation = static_cast<Activation*>(data);
    auto* source = static_cast<GtkWidget*>(g_weak_ref_get(&activation->source));
    if (source == nullptr) return;
    gtk_widget_activate_action(source, activation->action.c_str(), nullptr);
    g_object_unref(source);
}

void freeActivation(gpointer data, GClosure*) {
    auto* activation = static_cast<Activation*>(data);
    g_weak_ref_clear(&activation->source);
    delete activation;
}

WebKitContextMenuItem* makeWebItem(const ReaderContextMenu::WindowItem& item, GtkWidget* actionSource) {
    const std::string& identifier = item.identifier;
    GSimpleAction* action = g_simple_action_new(identifier.c_str(), nullptr);
    auto* activation = new Activation{{}, item.action};
    g_weak_ref_init(&activation->source, actionSource);
    g_signal_connect_data(action, "activate", G_CALLBACK(activate), activation, freeActivation,
                          GConnectFlags{});
    WebKitContextMenuItem* menuItem =
        webkit_context_menu_item_new_from_gaction(G_ACTION(action), item.title.c_str(), nullptr);
    g_object_unref(action);  // the item holds it
    return menuItem;
}


// Everything that opens, downloads, navigates or reloads: the reader's only
// navigation is its entry page.
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

AppendPlan planAppend(std::span<const ContextMenuEntry> entries, std::string_view firstIdentifier) {
    const bool present = std::any_of(entries.begin(), entries.end(), [&](const auto& entry) {
        return entry.identifier == firstIdentifier;
    });
    if (present) return {};
    return {.separator = !entries.empty(), .items = true};
}

void appendWindowItems(WebKitContextMenu* menu, GtkWidget* actionSource,
                       const std::vector<WindowItem>& items) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (items.empty()) return;
    const AppendPlan plan = planAppend(entriesOf(menu), items.front().identifier);
    if (plan.separator) webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
    if (!plan.items) return;
    for (const WindowItem& item : items) {
        webkit_context_menu_append(menu, makeWebItem(item, actionSource));
    }
}

}  // namespace larkspin::ReaderContextMenu
