#pragma once

#include <gio/gio.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Glib/GObjectPtr.hpp"

namespace larkspin {

// The application's one menu model, shown from the primary menu button of
// every group window: File, Edit and View submenus, then Settings, Help,
// About and Quit. Items name "app." and "win." actions; check and radio
// marks come from the actions' states. Main thread.
namespace ShellMenu {

// The whole menu; "Open Recent" shows `recent` (see `fillRecent`). With
// `updateItem`, "检查更新…" follows About.
GObjectPtr<GMenu> make(GMenuModel* recent, bool updateItem = false);
// Retitles the update item ("更新到 1.2…" while an update waits); nothing
// when the menu has none.
void setUpdateItemTitle(GMenu* menu, const std::string& title);
// Replaces the items of the "Open Recent" submenu with `paths` (file names
// as labels, "app.open-recent" with the path as target; a menu's texts are
// UTF-8, so a path that is not is carried as its "file://" URI).
void fillRecent(GMenu* recent, const std::vector<std::filesystem::path>& paths);
// The path an "app.open-recent" target names; none for a target that names
// no local file.
std::optional<std::filesystem::path> recentPath(const std::string& target);

}  // namespace ShellMenu

}  // namespace larkspin
