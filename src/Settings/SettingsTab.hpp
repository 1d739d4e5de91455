#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspin {

// The pages of the settings window, in sidebar order.
enum class SettingsTab { general, appearance, typography, editor, about };

inline constexpr std::array<SettingsTab, 5> allSettingsTabs = {
    SettingsTab::general, SettingsTab::appearance, SettingsTab::typography, SettingsTab::editor,
    SettingsTab::about};

std::string_view rawValue(SettingsTab tab);
std::optional<SettingsTab> settingsTabFromRaw(std::string_view raw);
// The localised title (sidebar row, page heading, window title).
std::string title(SettingsTab tab);
// The symbolic icon drawn white on the tab's tile.
std::string_view iconName(SettingsTab tab);

// A tile's vertical gradient, sRGB components 0…1, top first.
struct TileColors {
    std::array<double, 3> top;
    std::array<double, 3> bottom;
};
TileColors tileColors(SettingsTab tab);

// The tabs listed in the sidebar's list: About stands apart at its foot, and
// Editor is listed only in a build that edits.
std::vector<SettingsTab> sidebarListTabs(bool sourceEditing);

// The tab shared by the sidebar, the page area and the window title. Setting
// the tab it already holds changes nothing and tells no one. Main thread.
class SettingsSelection {
public:
    using Observer = std::function<void(SettingsTab)>;

    SettingsTab tab() const { return tab_; }
    // True when the tab changed (observers were told).
    bool setTab(SettingsTab tab);
    // Observers live as long as the selection; the window owns both.
    void observe(Observer observer) { observers_.push_back(std::move(observer)); }

private:
    SettingsTab tab_ = SettingsTab::general;
    std::vector<Observer> observers_;
};

}  // namespace larkspin
