#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

#include "App/BuildInfo.hpp"
#include "App/Desktop/ApplicationIcon.hpp"
#include "Settings/Widgets/SimplePages.hpp"

namespace larkspin {
namespace {

// Run from its build tree (as the run command runs it), the program knows
// its own icon, and the settings show it rather than a stand-in of the
// desktop's theme.
TEST(ApplicationIconDisplay, TheProgramFromItsBuildTreeShowsItsOwnIcon) {
    GdkDisplay* display = gdk_display_get_default();
    ApplicationIcon::makeKnown(display);
    EXPECT_TRUE(gtk_icon_theme_has_icon(gtk_icon_theme_get_for_display(display), BuildInfo::applicationId));

    GtkWidget* image = g_object_ref_sink(makeAppIcon(42));
    GIcon* icon = gtk_image_get_gicon(GTK_IMAGE(image));
    ASSERT_TRUE(G_IS_THEMED_ICON(icon));
    const char* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
    ASSERT_NE(names, nullptr);
    // Only our name (GIO adds its symbolic form): no stand-in that the
    // desktop's theme could offer first.
    for (const char* const* name = names; *name; ++name) {
        EXPECT_EQ(std::string(*name).rfind(BuildInfo::applicationId, 0), 0u) << *name;
    }
    g_object_unref(image);
}

}  // namespace
}  // namespace larkspin
