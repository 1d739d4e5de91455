#include "Web/FilePathMenu.hpp"

#include <webkit/webkit.h>

#include <algorithm>

#include "Platform/Localization.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Web/ReaderContextMenu.hpp"

namespace larkspin::FilePathMenu {

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

WebKitContextMenuItem* makeWebItem(const Item& item, GtkWidget* actionSource) {
    const std::string identifier(item.identifier);
    GSimpleAction* action = g_simple_action_new(identifier.c_str(), nullptr);
    auto* activation = new Activation{{}, std::string(item.action)};
    g_weak_ref_init(&activation->source, actionSource);
    g_signal_connect_data(action, "activate", G_CALLBACK(activate), activation, freeActivation,
                          GConnectFlags{});
    WebKitContextMenuItem* menuItem =
        webkit_context_menu_item_new_from_gaction(G_ACTION(action), item.title.c_str(), nullptr);
    g_object_unref(action);  // the item holds it
    return menuItem;
}

}  // namespace

std::array<Item, 2> describeItems() {
    return {{
        {L10n::text("menu.file.copy_path"), copyPathAction, copyPathIdentifier},
        {L10n::text("menu.file.reveal_in_finder"), revealAction, revealIdentifier},
    }};
}

AppendPlan planAppend(std::span<const ContextMenuEntry> entries) {
    const bool present = std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
        return entry.identifier == copyPathIdentifier;
    });
    if (present) return {};
    return {.separator = !entries.empty(), .items = true};
}

std::vector<GObjectPtr<GMenuItem>> makeItems() {
    std::vector<GObjectPtr<GMenuItem>> items;
    for (const Item& item : describeItems()) {
        const std::string action(item.action);
        const std::string identifier(item.identifier);
        auto menuItem =
            GObjectPtr<GMenuItem>::adopt(g_menu_item_new(item.title.c_str(), action.c_str()));
        g_menu_item_set_attribute(menuItem.get(), identifierAttribute, "s", identifier.c_str());
        items.push_back(std::move(menuItem));
    }
    return items;
}

GObjectPtr<GMenu> makeContextMenu() {
    auto menu = GObjectPtr<GMenu>::adopt(g_menu_new());
    for (const auto& item : makeItems()) g_menu_append_item(menu.get(), item.get());
    return menu;
}

void append(WebKitContextMenu* menu, GtkWidget* actionSource) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const AppendPlan plan = planAppend(ReaderContextMenu::entriesOf(menu));
    if (plan.separator) webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
    if (!plan.items) return;
    for (const Item& item : describeItems()) {
        webkit_context_menu_append(menu, makeWebItem(item, actionSource));
    }
}

}  // namespace larkspin::FilePathMenu
