#pragma once

#include <gio/gio.h>

#include <filesystem>
#include <vector>

#include "Platform/Glib/GObjectPtr.hpp"

namespace larkspin {

// The application's one menu model, shown from the primary menu button of
// every group window: File, Edit and View submenus, then Settings, Help,
// About and Quit. Items name "app." and "win." actions; check and radio
// marks come from the actions' states. Main thread.
namespace ShellMenu {

// The whole menu; "Open Recent" shows `recent` (see `fillRecent`).
GObjectPtr<GMenu> make(GMenuModel* recent);
// Replaces the items of the "Open Recent" submenu with `paths` (file names
// as labels, "app.open-recent" with the path as target).
void fillRecent(GMenu* recent, const std::vector<std::filesystem::path>& paths);

}  // namespace ShellMenu

}  // namespace larkspin
