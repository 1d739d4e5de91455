#include "Settings/SettingsTab.hpp"

#include "Platform/Localization.hpp"

namespace larkspin {

std::string_view rawValue(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::general: return "general";
    case SettingsTab::appearance: return "appearance";
    case SettingsTab::typography: return "typography";
    case SettingsTab::editor: return "editor";
    case SettingsTab::about: return "about";
    }
    return "general";
}

std::optional<SettingsTab> settingsTabFromRaw(std::string_view raw) {
    for (SettingsTab tab : allSettingsTabs) {
        if (rawValue(tab) == raw) return tab;
    }
    return std::nullopt;
}

std::string title(SettingsTab tab) {
    return L10n::text(std::string("settings.tab.") + std::string(rawValue(tab)));
}

std::string_view iconName(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::general: return "emblem-system-symbolic";
    case SettingsTab::appearance: return "applications-graphics-symbolic";
    case SettingsTab::typography: return "preferences-desktop-font-symbolic";
    case SettingsTab::editor: return "document-edit-symbolic";
    case SettingsTab::about: return "help-about-symbolic";
    }
    return "emblem-system-symbolic";
}

namespace {
TileColors tile(int r1, int g1, int b1, int r2, int g2, int b2) {
    return {{r1 / 255.0, g1 / 255.0, b1 / 255.0}, {r2 / 255.0, g2 / 255.0, b2 / 255.0}};
}
}  // namespace

TileColors tileColors(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::appearance: return tile(192, 108, 255, 142, 63, 224);
    case SettingsTab::typography: return tile(61, 155, 255, 10, 108, 240);
    case SettingsTab::editor: return tile(255, 179, 64, 240, 138, 18);
    case SettingsTab::general:
    case SettingsTab::about: break;
    }
    return tile(154, 154, 161, 119, 119, 126);
}

std::vector<SettingsTab> sidebarListTabs(bool sourceEditing) {
    std::vector<SettingsTab> tabs;
    for (SettingsTab tab : allSettingsTabs) {
        if (tab == SettingsTab::about) continue;
        if (tab == SettingsTab::editor && !sourceEditing) continue;
        tabs.push_back(tab);
    }
    return tabs;
}

bool SettingsSelection::setTab(SettingsTab tab) {
    if (tab == tab_) return false;
    tab_ = tab;
    // Copied: an observer may add another.
    const auto observers = observers_;
    for (const auto& observer : observers) observer(tab);
    return true;
}

}  // namespace larkspin
