#include "Window/FilePathMenu.hpp"

#include "Platform/Localization.hpp"

namespace larkspin::FilePathMenu {

std::vector<ReaderContextMenu::WindowItem> describeItems() {
    return {
        {L10n::text("menu.file.copy_path"), std::string(copyPathAction),
         std::string(copyPathIdentifier)},
        {L10n::text("menu.file.reveal_in_finder"), std::string(revealAction),
         std::string(revealIdentifier)},
    };
}

std::vector<GObjectPtr<GMenuItem>> makeItems() {
    std::vector<GObjectPtr<GMenuItem>> items;
    for (const auto& item : describeItems()) {
        auto menuItem = GObjectPtr<GMenuItem>::adopt(
            g_menu_item_new(item.title.c_str(), item.action.c_str()));
        g_menu_item_set_attribute(menuItem.get(), identifierAttribute, "s", item.identifier.c_str());
        items.push_back(std::move(menuItem));
    }
    return items;
}

GObjectPtr<GMenu> makeContextMenu() {
    auto menu = GObjectPtr<GMenu>::adopt(g_menu_new());
    for (const auto& item : makeItems()) g_menu_append_item(menu.get(), item.get());
    return menu;
}

}  // namespace larkspin::FilePathMenu
