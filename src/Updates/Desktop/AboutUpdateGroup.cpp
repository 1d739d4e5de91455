#include "Updates/Desktop/AboutUpdateGroup.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <string>

#include "Platform/Localization.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Updates/AppUpdater.hpp"

namespace larkspin::AboutUpdateGroup {

namespace {

// What the group keeps while it lives; freed with the group.
struct State {
    AppUpdater* updater = nullptr;
    GtkWidget* toggle = nullptr;
    GtkWidget* status = nullptr;
    GtkWidget* button = nullptr;
    NotificationObserver changed;
    guint minuteTimer = 0;

    ~State() {
        if (minuteTimer) g_source_remove(minuteTimer);
    }
};

void refresh(State& state) {
    AppUpdater& updater = *state.updater;
    // The interface's texts are Chinese, so is the date in them.
    const std::string status =
        updater.aboutStatusText(updater.wallNow(), RelativeDate::Language::chinese);
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(state.status), status.c_str());
    if (gtk_switch_get_active(GTK_SWITCH(state.toggle)) != updater.automaticallyChecks()) {
        gtk_switch_set_active(GTK_SWITCH(state.toggle), updater.automaticallyChecks());
    }
    const std::string title = updater.aboutButtonTitle();
    gtk_button_set_label(GTK_BUTTON(state.button), title.c_str());
    gtk_widget_set_sensitive(state.button, updater.canCheckForUpdates());
    if (updater.availableVersion()) {
        gtk_widget_add_css_class(state.button, "suggested-action");
    } else {
        gtk_widget_remove_css_class(state.button, "suggested-action");
    }
}

void onToggled(GObject* toggle, GParamSpec*, gpointer data) {
    auto* state = static_cast<State*>(data);
    state->updater->setAutomaticallyChecks(gtk_switch_get_active(GTK_SWITCH(toggle)) != FALSE);
}

void onCheck(GtkButton*, gpointer data) { static_cast<State*>(data)->updater->checkForUpdates(); }

}  // namespace

GtkWidget* make(AppUpdater& updater) {
    auto* state = new State;
    state->updater = &updater;

    GtkWidget* group = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group), L10n::text("about.update.group").c_str());
    gtk_widget_set_name(group, widgetName);
    g_object_set_data_full(G_OBJECT(group), "larkspin-update-group", state,
                           [](gpointer data) { delete static_cast<State*>(data); });

    GtkWidget* automatic = adw_action_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(automatic), L10n::text("about.update.auto").c_str());
    state->toggle = gtk_switch_new();
    gtk_widget_set_valign(state->toggle, GTK_ALIGN_CENTER);
    gtk_switch_set_active(GTK_SWITCH(state->toggle), updater.automaticallyChecks());
    adw_action_row_add_suffix(ADW_ACTION_ROW(automatic), state->toggle);
    adw_action_row_set_activatable_widget(ADW_ACTION_ROW(automatic), state->toggle);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), automatic);

    state->status = adw_action_row_new();
    state->button = gtk_button_new();
    gtk_widget_set_name(state->button, checkButtonName);
    gtk_widget_set_valign(state->button, GTK_ALIGN_CENTER);
    adw_action_row_add_suffix(ADW_ACTION_ROW(state->status), state->button);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), state->status);

    refresh(*state);
    g_signal_connect(state->toggle, "notify::active", G_CALLBACK(onToggled), state);
    g_signal_connect(state->button, "clicked", G_CALLBACK(onCheck), state);
    state->changed = updater.notifications().addObserver(
        std::string(AppUpdater::didChangeNotification), &updater,
        [state](const Notification&) { refresh(*state); });
    state->minuteTimer = g_timeout_add_seconds(
        60,
        [](gpointer data) -> gboolean {
            refresh(*static_cast<State*>(data));
            return G_SOURCE_CONTINUE;
        },
        state);
    return group;
}

}  // namespace larkspin::AboutUpdateGroup
