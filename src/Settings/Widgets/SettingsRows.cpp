#include "Settings/Widgets/SettingsRows.hpp"

#include <adwaita.h>

namespace larkspin::SettingsRows {

GtkWidget* group(const std::string& title) {
    GtkWidget* group = adw_preferences_group_new();
    if (!title.empty()) adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group), title.c_str());
    return group;
}

GtkWidget* row(const std::string& title, const std::string& detail, GtkWidget* control) {
    GtkWidget* row = adw_action_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), title.c_str());
    adw_preferences_row_set_use_markup(ADW_PREFERENCES_ROW(row), FALSE);
    if (!detail.empty()) adw_action_row_set_subtitle(ADW_ACTION_ROW(row), detail.c_str());
    if (control) {
        gtk_widget_set_valign(control, GTK_ALIGN_CENTER);
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), control);
    }
    return row;
}

GtkWidget* switchRow(const std::string& title, const std::string& detail, GtkWidget** toggle) {
    GtkWidget* control = gtk_switch_new();
    gtk_accessible_update_property(GTK_ACCESSIBLE(control), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   title.c_str(), -1);
    GtkWidget* result = row(title, detail, control);
    adw_action_row_set_activatable_widget(ADW_ACTION_ROW(result), control);
    if (toggle) *toggle = control;
    return result;
}

GtkWidget* boxRow(GtkWidget* child, int verticalMargin) {
    // A preference row, so that the group puts it into its card.
    GtkWidget* row = adw_preferences_row_new();
    gtk_list_box_row_set_activatable(GTK_LIST_BOX_ROW(row), FALSE);
    gtk_list_box_row_set_selectable(GTK_LIST_BOX_ROW(row), FALSE);
    gtk_widget_set_margin_start(child, 14);
    gtk_widget_set_margin_end(child, 14);
    gtk_widget_set_margin_top(child, verticalMargin);
    gtk_widget_set_margin_bottom(child, verticalMargin);
    gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(row), child);
    return row;
}

namespace {
GtkStringList* stringList(const std::vector<std::string>& items) {
    GtkStringList* list = gtk_string_list_new(nullptr);
    for (const auto& item : items) gtk_string_list_append(list, item.c_str());
    return list;
}
}  // namespace

GtkWidget* dropDown(const std::vector<std::string>& items, const std::string& label, int width) {
    GtkExpression* expression =
        gtk_property_expression_new(GTK_TYPE_STRING_OBJECT, nullptr, "string");
    GtkWidget* picker = gtk_drop_down_new(G_LIST_MODEL(stringList(items)), expression);
    gtk_widget_set_size_request(picker, width, -1);
    gtk_accessible_update_property(GTK_ACCESSIBLE(picker), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   label.c_str(), -1);
    return picker;
}

void setItems(GtkWidget* picker, const std::vector<std::string>& items) {
    GListModel* model = gtk_drop_down_get_model(GTK_DROP_DOWN(picker));
    bool same = model && g_list_model_get_n_items(model) == items.size();
    for (guint i = 0; same && i < items.size(); ++i) {
        same = items[i] == gtk_string_list_get_string(GTK_STRING_LIST(model), i);
    }
    if (same) return;
    GtkStringList* list = stringList(items);
    gtk_drop_down_set_model(GTK_DROP_DOWN(picker), G_LIST_MODEL(list));
    g_object_unref(list);
}

}  // namespace larkspin::SettingsRows
