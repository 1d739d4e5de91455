#include "App/ShellMenu.hpp"

#include <string>
#include <string_view>

#include "Appearance/Actions/AppearanceActions.hpp"
#include "Appearance/AppearanceMode.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Appearance/ThemeID.hpp"
#include "Appearance/TypographySettings.hpp"
#include "App/AppActions.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Text/FileNameText.hpp"
#include "Platform/Text/Utf8.hpp"
#include "Window/FilePathMenu.hpp"
#include "Window/WindowActions.hpp"

namespace larkspin::ShellMenu {

namespace {

std::string appAction(std::string_view name) { return "app." + std::string(name); }
std::string winAction(std::string_view name) { return "win." + std::string(name); }

void append(GMenu* menu, std::string_view key, const std::string& action) {
    g_menu_append(menu, L10n::text(key).c_str(), action.c_str());
}

void appendTargeted(GMenu* menu, const std::string& label, std::string_view action,
                    std::string_view target) {
    auto item = GObjectPtr<GMenuItem>::adopt(g_menu_item_new(label.c_str(), nullptr));
    g_menu_item_set_action_and_target_value(item.get(), appAction(action).c_str(),
                                            g_variant_new_string(std::string(target).c_str()));
    g_menu_append_item(menu, item.get());
}

GObjectPtr<GMenu> section() { return GObjectPtr<GMenu>::adopt(g_menu_new()); }

void appendSection(GMenu* menu, GMenu* part) {
    g_menu_append_section(menu, nullptr, G_MENU_MODEL(part));
}

void appendSubmenu(GMenu* menu, std::string_view key, GMenu* submenu) {
    g_menu_append_submenu(menu, L10n::text(key).c_str(), G_MENU_MODEL(submenu));
}

GObjectPtr<GMenu> fileMenu(GMenuModel* recent) {
    auto menu = GObjectPtr<GMenu>::adopt(g_menu_new());
    auto opening = section();
    append(opening.get(), "menu.file.open", appAction(AppActions::open));
    g_menu_append_submenu(opening.get(), L10n::text("menu.file.open_recent").c_str(), recent);
    appendSection(menu.get(), opening.get());
    auto document = section();
    append(document.get(), "menu.file.close", appAction(AppActions::close));
    append(document.get(), "menu.file.save", appAction(AppActions::save));
    append(document.get(), "menu.file.save_as", appAction(AppActions::saveAs));
    append(document.get(), "menu.file.revert", appAction(AppActions::revert));
    appendSection(menu.get(), document.get());
    auto paths = section();
    for (const auto& item : FilePathMenu::makeItems()) g_menu_append_item(paths.get(), item.get());
    appendSection(menu.get(), paths.get());
    return menu;
}

GObjectPtr<GMenu> editMenu() {
    auto menu = GObjectPtr<GMenu>::adopt(g_menu_new());
    auto clipboard = section();
    append(clipboard.get(), "menu.edit.copy", appAction(AppActions::copy));
    append(clipboard.get(), "menu.edit.select_all", appAction(AppActions::selectAll));
    appendSection(menu.get(), clipboard.get());
    auto find = section();
    append(find.get(), "menu.edit.find", winAction(WindowActions::showFindBar));
    append(find.get(), "menu.edit.find_next", winAction(WindowActions::findNext));
    append(find.get(), "menu.edit.find_previous", winAction(WindowActions::findPrevious));
    append(find.get(), "menu.edit.use_selection", winAction(WindowActions::useSelectionForFind));
    appendSection(menu.get(), find.get());
    return menu;
}

GObjectPtr<GMenu> themeMenu() {
    auto menu = GObjectPtr<GMenu>::adopt(g_menu_new());
    auto modes = section();
    for (auto mode : {AppearanceMode::system, AppearanceMode::light, AppearanceMode::dark}) {
        appendTargeted(modes.get(), L10n::text("appearance." + std::string(rawValue(mode))),
                       AppearanceActions::selectAppearanceMode, rawValue(mode));
    }
    appendSection(menu.get(), modes.get());
    // Light themes, then dark ones, each group in the themes' own order.
    for (auto appearance : {ThemeAppearance::light, ThemeAppearance::dark}) {
        auto group = section();
        for (ThemeID id : allThemeIDs) {
            const Theme theme = ThemeCatalog::theme(id);
            if (theme.appearance != appearance) continue;
            appendTargeted(group.get(), theme.localizedName, AppearanceActions::selectTheme,
                           rawValue(id));
        }
        appendSection(menu.get(), group.get());
    }
    return menu;
}

GObjectPtr<GMenu> presetMenu(std::string_view action,
                             std::initializer_list<std::pair<std::string_view, std::string_view>>
                                 presets) {
    auto menu = GObjectPtr<GMenu>::adopt(g_menu_new());
    for (const auto& [raw, key] : presets) appendTargeted(menu.get(), L10n::text(key), action, raw);
    return menu;
}

GObjectPtr<GMenu> viewMenu() {
    auto menu = GObjectPtr<GMenu>::adopt(g_menu_new());
    // Only with source editing on: otherwise no item leads into editing.
    if (ModeSwitch::sourceEditingEnabled()) {
        auto editing = section();
        append(editing.get(), "menu.view.toggle_mode", winAction(WindowActions::toggleEditing));
        append(editing.get(), "menu.view.edit_here", winAction(WindowActions::editHere));
        append(editing.get(), "menu.view.line_numbers", winAction(WindowActions::toggleLineNumbers));
        appendSection(menu.get(), editing.get());
    }
    auto theme = section();
    append(theme.get(), "toolbar.toc.label", winAction(WindowActions::toggleSidebar));
    auto themes = themeMenu();
    appendSubmenu(theme.get(), "menu.view.theme", themes.get());
    appendSection(menu.get(), theme.get());

    auto size = section();
    append(size.get(), "menu.view.zoom_in", appAction(AppearanceActions::increaseFontSize));
    append(size.get(), "menu.view.zoom_out", appAction(AppearanceActions::decreaseFontSize));
    append(size.get(), "menu.view.actual_size", appAction(AppearanceActions::actualSize));
    appendSection(menu.get(), size.get());

    auto layout = section();
    auto widths = presetMenu(AppearanceActions::selectWidthPreset,
                             {{rawValue(TypographyWidthPreset::comfortable), "width.comfortable"},
                              {rawValue(TypographyWidthPreset::compact), "preset.compact"},
                              {rawValue(TypographyWidthPreset::wide), "preset.loose"}});
    appendSubmenu(layout.get(), "menu.view.body_width", widths.get());
    auto lineHeights =
        presetMenu(AppearanceActions::selectLineHeightPreset,
                   {{rawValue(TypographyLineHeightPreset::standard), "line_height.standard"},
                    {rawValue(TypographyLineHeightPreset::compact), "preset.compact"},
                    {rawValue(TypographyLineHeightPreset::loose), "preset.loose"}});
    appendSubmenu(layout.get(), "menu.view.line_height", lineHeights.get());
    append(layout.get(), "menu.view.wide_blocks", appAction(AppearanceActions::toggleWideBlocks));
    append(layout.get(), "menu.view.font_panel_body",
           appAction(AppearanceActions::showBodyFontPanel));
    append(layout.get(), "menu.view.font_panel_mono",
           appAction(AppearanceActions::showMonoFontPanel));
    appendSection(menu.get(), layout.get());

    auto restore = section();
    append(restore.get(), "menu.view.restore_theme_typography",
           appAction(AppearanceActions::restoreThemeTypography));
    append(restore.get(), "menu.view.restore_all_appearance",
           appAction(AppearanceActions::restoreAllAppearanceDefaults));
    appendSection(menu.get(), restore.get());
    return menu;
}

}  // namespace

GObjectPtr<GMenu> make(GMenuModel* recent, bool updateItem) {
    auto menu = GObjectPtr<GMenu>::adopt(g_menu_new());
    auto areas = section();
    auto file = fileMenu(recent);
    auto edit = editMenu();
    auto view = viewMenu();
    appendSubmenu(areas.get(), "menu.file", file.get());
    appendSubmenu(areas.get(), "menu.edit", edit.get());
    appendSubmenu(areas.get(), "menu.view", view.get());
    appendSection(menu.get(), areas.get());

    auto application = section();
    append(application.get(), "menu.app.settings", appAction(AppActions::settings));
    append(application.get(), "menu.help", appAction(AppActions::help));
    append(application.get(), "menu.app.about", appAction(AppActions::about));
    if (updateItem) {
        append(application.get(), "update.action.check", appAction(AppActions::checkForUpdates));
    }
    appendSection(menu.get(), application.get());
    auto quit = section();
    append(quit.get(), "menu.app.quit", appAction(AppActions::quit));
    appendSection(menu.get(), quit.get());
    return menu;
}

void setUpdateItemTitle(GMenu* menu, const std::string& title) {
    const std::string action = appAction(AppActions::checkForUpdates);
    const int sections = g_menu_model_get_n_items(G_MENU_MODEL(menu));
    for (int s = 0; s < sections; ++s) {
        GMenuModel* part = g_menu_model_get_item_link(G_MENU_MODEL(menu), s, G_MENU_LINK_SECTION);
        if (!part) continue;
        const int count = g_menu_model_get_n_items(part);
        for (int index = 0; index < count; ++index) {
            char* name = nullptr;
            if (g_menu_model_get_item_attribute(part, index, G_MENU_ATTRIBUTE_ACTION, "s", &name) &&
                name && action == name && G_IS_MENU(part)) {
                g_menu_remove(G_MENU(part), index);
                g_menu_insert(G_MENU(part), index, title.c_str(), action.c_str());
                g_free(name);
                g_object_unref(part);
                return;
            }
            g_free(name);
        }
        g_object_unref(part);
    }
}

void fillRecent(GMenu* recent, const std::vector<std::filesystem::path>& paths) {
    g_menu_remove_all(recent);
    for (const auto& path : paths) {
        std::string target = path.string();
        if (!utf8::isValid(target)) {
            gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
            target = uri ? uri : "";
            g_free(uri);
        }
        if (target.empty()) continue;
        appendTargeted(recent, FileNameText::baseName(path), AppActions::openRecent, target);
    }
}

std::optional<std::filesystem::path> recentPath(const std::string& target) {
    if (target.starts_with("/")) return std::filesystem::path(target);
    gchar* path = g_filename_from_uri(target.c_str(), nullptr, nullptr);
    if (!path) return std::nullopt;
    std::filesystem::path file(path);
    g_free(path);
    return file;
}

}  // namespace larkspin::ShellMenu
