#include "Reader/Widgets/Tooltips.hpp"

#include <gtk/gtk.h>

namespace larkspin::Tooltips {

namespace {

constexpr const char* textKey = "larkspin-tooltip";
constexpr const char* whenCutKey = "larkspin-tooltip-when-cut";
constexpr const char* connectedKey = "larkspin-tooltip-connected";
constexpr int longestLine = 480;  // pixels

bool isCut(GtkWidget* widget) {
    return GTK_IS_LABEL(widget) && pango_layout_is_ellipsized(gtk_label_get_layout(GTK_LABEL(widget)));
}

gboolean query(GtkWidget* widget, int, int, gboolean, GtkTooltip* tooltip, gpointer) {
    const auto* text = static_cast<const std::string*>(g_object_get_data(G_OBJECT(widget), textKey));
    if (!text || text->empty()) return FALSE;
    if (g_object_get_data(G_OBJECT(widget), whenCutKey) && !isCut(widget)) return FALSE;
    if (GTK_IS_MENU_BUTTON(widget)) {
        GtkPopover* menu = gtk_menu_button_get_popover(GTK_MENU_BUTTON(widget));
        if (menu && gtk_widget_get_visible(GTK_WIDGET(menu))) return FALSE;
    }
    GtkWidget* line = gtk_label_new(text->c_str());
    // One line; a text wider than a line may be (a long notice) wraps at
    // that width, never narrower.
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, text->c_str());
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);
    if (width > longestLine) {
        gtk_label_set_wrap(GTK_LABEL(line), TRUE);
        gtk_label_set_wrap_mode(GTK_LABEL(line), PANGO_WRAP_WORD_CHAR);
        gtk_widget_set_size_request(line, longestLine, -1);
    } else {
        gtk_label_set_wrap(GTK_LABEL(line), FALSE);
        gtk_label_set_single_line_mode(GTK_LABEL(line), TRUE);
    }
    gtk_tooltip_set_custom(tooltip, line);
    return TRUE;
}

void attach(GtkWidget* widget, const std::string& text, bool whenCut) {
    g_object_set_data_full(G_OBJECT(widget), textKey, new std::string(text),
                           [](gpointer data) { delete static_cast<std::string*>(data); });
    g_object_set_data(G_OBJECT(widget), whenCutKey, GINT_TO_POINTER(whenCut ? 1 : 0));
    if (!g_object_get_data(G_OBJECT(widget), connectedKey)) {
        g_signal_connect(widget, "query-tooltip", G_CALLBACK(query), nullptr);
        g_object_set_data(G_OBJECT(widget), connectedKey, GINT_TO_POINTER(1));
    }
    gtk_widget_set_has_tooltip(widget, !text.empty());
}

}  // namespace

void set(GtkWidget* widget, const std::string& text) {
    attach(widget, text, false);
    // What GTK's own tooltip text would tell assistive technologies.
    if (text.empty()) {
        gtk_accessible_reset_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION);
    } else {
        gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                       text.c_str(), -1);
    }
}

void setWhenCut(GtkWidget* label, const std::string& text) {
    attach(label, text, true);
}

std::string textOf(GtkWidget* widget) {
    const auto* text = static_cast<const std::string*>(g_object_get_data(G_OBJECT(widget), textKey));
    return text ? *text : std::string();
}

}  // namespace larkspin::Tooltips
