#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "Appearance/Actions/AppearanceActions.hpp"
#include "Appearance/AppearanceController.hpp"
#include "Appearance/Desktop/FontChooserPanel.hpp"
#include "Appearance/TypographyController.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

#if defined(LARKSPIN_SANITIZED)
// GTK 4.8 leaks the parser buffers of the row templates it builds while the
// chooser's face list fills in. GTK and GLib have no frame pointers, so the
// leak is only recognisable with the slow unwinder.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:g_markup_parse_context_parse\n";
}
#endif

namespace larkspin {
namespace {

// Selects a face in the chooser's list of faces, as a click on its row does.
bool clickFace(GtkWidget* widget, const char* family, const char* face) {
    auto* model =
        GTK_IS_LIST_VIEW(widget) ? gtk_list_view_get_model(GTK_LIST_VIEW(widget)) : nullptr;
    for (guint i = 0;
         GTK_IS_SINGLE_SELECTION(model) && i < g_list_model_get_n_items(G_LIST_MODEL(model)); ++i) {
        auto* item = static_cast<GObject*>(g_list_model_get_item(G_LIST_MODEL(model), i));
        const bool match =
            PANGO_IS_FONT_FACE(item) &&
            g_strcmp0(pango_font_face_get_face_name(PANGO_FONT_FACE(item)), face) == 0 &&
            g_strcmp0(pango_font_family_get_name(pango_font_face_get_family(PANGO_FONT_FACE(item))),
                      family) == 0;
        g_object_unref(item);
        if (match) {
            gtk_single_selection_set_selected(GTK_SINGLE_SELECTION(model), i);
            return true;
        }
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
         child = gtk_widget_get_next_sibling(child)) {
        if (clickFace(child, family, face)) return true;
    }
    return false;
}

// The real font panel, driven as a user would: open it from the menu, pick a
// face, confirm.
TEST(FontChooserPanel, ChoosingAFaceSetsTheBodyFamilyAndWeight) {
    test::TempDir dir;
    UserDefaults defaults(dir / "prefs.json");
    auto center = NotificationCenter::create();
    TypographyController controller(defaults, *center);
    AppearanceController appearance(defaults, *center, nullptr);
    FontChooserPanel panel;
    AppearanceActions actions(appearance, controller, panel);

    ASSERT_TRUE(actions.activate(AppearanceActions::showBodyFontPanel));
    GtkWidget* dialog = panel.dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(gtk_widget_get_visible(dialog));
    EXPECT_EQ(gtk_font_chooser_get_level(GTK_FONT_CHOOSER(dialog)),
              GTK_FONT_CHOOSER_LEVEL_FAMILY | GTK_FONT_CHOOSER_LEVEL_STYLE);  // no size

    // Pick a face, as a user would, once the list (filled in the background) shows it.
    ASSERT_TRUE(
        test::runMainLoopUntil([dialog] { return clickFace(dialog, "DejaVu Sans", "Bold"); }));
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    EXPECT_FALSE(gtk_widget_get_visible(dialog));
    // The family is resolved on the workers before the choice applies.
    ASSERT_TRUE(test::runMainLoopUntil([&] { return controller.revision() == 1; }));
    auto settings = controller.settings();
    EXPECT_EQ(settings.bodyFamily, "\"DejaVu Sans\"");
    EXPECT_EQ(settings.fontWeight, 700);
    EXPECT_EQ(controller.revision(), 1);

    // Mono: monospace families only; cancelling changes nothing.
    ASSERT_TRUE(actions.activate(AppearanceActions::showMonoFontPanel));
    EXPECT_TRUE(gtk_widget_get_visible(dialog));
    test::runMainLoopUntil([] { return false; }, 10);
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
    EXPECT_EQ(controller.revision(), 1);
    EXPECT_EQ(controller.settings().monoFamily, "");
}

}  // namespace
}  // namespace larkspin
