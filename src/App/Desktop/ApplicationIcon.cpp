#include "App/Desktop/ApplicationIcon.hpp"

#include <gtk/gtk.h>

#include "App/AppIcon.hpp"
#include "App/BuildInfo.hpp"

namespace larkspin::ApplicationIcon {

void makeKnown(GdkDisplay* display) {
    GtkIconTheme* icons = display ? gtk_icon_theme_get_for_display(display) : nullptr;
    if (!icons || gtk_icon_theme_has_icon(icons, BuildInfo::applicationId)) return;
    if (auto folder = AppIcon::locateFolder()) gtk_icon_theme_add_search_path(icons, folder->c_str());
}

}  // namespace larkspin::ApplicationIcon
