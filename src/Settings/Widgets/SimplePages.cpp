#include "Settings/Widgets/SimplePages.hpp"

#include <adwaita.h>

#include <string>

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Settings/SettingsModel.hpp"
#include "Settings/Widgets/SettingsRows.hpp"

namespace larkspin {

namespace {
constexpr Logger settingsLog{"settings"};
constexpr const char* applicationIconName = "dev.corvantel.larkspin";

GtkWidget* pageBox() {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 20);
    gtk_widget_set_valign(box, GTK_ALIGN_START);
    return box;
}
}  // namespace

SettingsPage::SettingsPage(SettingsModel& model) : model_(model) {}

void SettingsPage::refresh() {
    refreshing_ = true;
    update();
    refreshing_ = false;
}

GtkWidget* makeAppIcon(int size) {
    // GTK tries every name of a list in one theme before the next theme, so
    // the stand-ins would win over our icon whenever the desktop's theme has
    // them: they are named only when no theme has ours.
    GdkDisplay* display = gdk_display_get_default();
    GtkIconTheme* theme = display ? gtk_icon_theme_get_for_display(display) : nullptr;
    const bool ours = theme && gtk_icon_theme_has_icon(theme, applicationIconName);
    const char* names[] = {applicationIconName, "accessories-text-editor", "text-x-generic",
                           nullptr};
    GIcon* icon = ours ? g_themed_icon_new(applicationIconName)
                       : g_themed_icon_new_from_names(const_cast<char**>(names + 1), -1);
    GtkWidget* image = gtk_image_new_from_gicon(icon);
    g_object_unref(icon);
    gtk_image_set_pixel_size(GTK_IMAGE(image), size);
    gtk_widget_add_css_class(image, "icon-dropshadow");
    return image;
}

// ---- General ----

GeneralSettingsPage::GeneralSettingsPage(SettingsModel& model) : SettingsPage(model) {
    root_ = pageBox();

    std::vector<std::string> names;
    for (ExternalChangePolicy policy : allExternalChangePolicies) {
        names.push_back(localizedName(policy));
    }
    const std::string policyTitle = L10n::text("settings.general.external_change");
    policy_ = SettingsRows::dropDown(names, policyTitle, 160);
    connect(policy_, "notify::selected", G_CALLBACK(onPolicy));
    GtkWidget* files = SettingsRows::group(L10n::text("settings.general.files"));
    adw_preferences_group_add(
        ADW_PREFERENCES_GROUP(files),
        SettingsRows::row(policyTitle, L10n::text("settings.general.external_change.detail"),
                          policy_));
    gtk_box_append(GTK_BOX(root_), files);

    clear_ = gtk_button_new_with_label(L10n::text("settings.general.recovery.clear").c_str());
    connect(clear_, "clicked", G_CALLBACK(onClear));
    countRow_ = SettingsRows::row(L10n::format("settings.general.recovery.count", {"0"}), "", clear_);
    GtkWidget* recovery = SettingsRows::group(L10n::text("settings.general.recovery.title"));
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(recovery), countRow_);
    gtk_box_append(GTK_BOX(root_), recovery);
    refresh();
}

void GeneralSettingsPage::update() {
    const ExternalChangePolicy policy = model_.externalChangePolicy();
    guint index = 0;
    for (guint i = 0; i < std::size(allExternalChangePolicies); ++i) {
        if (allExternalChangePolicies[i] == policy) index = i;
    }
    if (gtk_drop_down_get_selected(GTK_DROP_DOWN(policy_)) != index) {
        gtk_drop_down_set_selected(GTK_DROP_DOWN(policy_), index);
    }
    adw_preferences_row_set_title(
        ADW_PREFERENCES_ROW(countRow_),
        L10n::format("settings.general.recovery.count", {std::to_string(resolvedCount_)}).c_str());
    gtk_widget_set_sensitive(clear_, resolvedCount_ > 0);
}

void GeneralSettingsPage::shown() {
    // Starts at 0 each time, like a page built afresh.
    resolvedCount_ = 0;
    refresh();
    tasks_.spawn(loadCount());
}

void GeneralSettingsPage::onPolicy(GObject*, GParamSpec*, void* data) {
    auto* self = static_cast<GeneralSettingsPage*>(data);
    if (self->quiet()) return;
    const guint index = gtk_drop_down_get_selected(GTK_DROP_DOWN(self->policy_));
    if (index >= std::size(allExternalChangePolicies)) return;
    self->model_.setExternalChangePolicy(allExternalChangePolicies[index]);
}

void GeneralSettingsPage::onClear(GtkWidget*, void* data) {
    auto* self = static_cast<GeneralSettingsPage*>(data);
    if (self->quiet()) return;
    gtk_widget_set_sensitive(self->clear_, FALSE);
    self->tasks_.spawn(self->clearDrafts());
}

Task<void> GeneralSettingsPage::loadCount() {
    try {
        const std::int64_t count = co_await model_.resolvedDraftCount();
        resolvedCount_ = count;
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        settingsLog.error("恢复记录：计数失败");
    }
    ++loads_;
    refresh();
}

Task<void> GeneralSettingsPage::clearDrafts() {
    std::int64_t cleared = -1;
    try {
        cleared = co_await model_.clearResolvedDrafts();
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        settingsLog.error("恢复记录：清除失败");
    }
    if (cleared >= 0) settingsLog.info("恢复记录：清除 %ld 条", static_cast<long>(cleared));
    co_await loadCount();
}

// ---- Editor ----

EditorSettingsPage::EditorSettingsPage(SettingsModel& model) : SettingsPage(model) {
    root_ = pageBox();
    GtkWidget* spelling = SettingsRows::group(L10n::text("settings.editor.spelling"));
    adw_preferences_group_add(
        ADW_PREFERENCES_GROUP(spelling),
        SettingsRows::switchRow(L10n::text("settings.editor.spell_checking"),
                                L10n::text("settings.editor.spell_checking.detail"), &switch_));
    connect(switch_, "notify::active", G_CALLBACK(onSwitch));
    gtk_box_append(GTK_BOX(root_), spelling);
    refresh();
}

void EditorSettingsPage::update() {
    gtk_switch_set_active(GTK_SWITCH(switch_), model_.spellChecking());
}

void EditorSettingsPage::onSwitch(GObject*, GParamSpec*, void* data) {
    auto* self = static_cast<EditorSettingsPage*>(data);
    if (self->quiet()) return;
    self->model_.setSpellChecking(gtk_switch_get_active(GTK_SWITCH(self->switch_)));
}

// ---- About ----

AboutSettingsPage::AboutSettingsPage(SettingsModel& model, const AppInfo& info)
    : SettingsPage(model) {
    root_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 30);
    gtk_widget_set_hexpand(root_, TRUE);

    GtkWidget* head = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_widget_set_halign(head, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_top(head, 6);
    GtkWidget* icon = makeAppIcon(96);
    gtk_widget_set_margin_bottom(icon, 6);
    gtk_box_append(GTK_BOX(head), icon);
    GtkWidget* name = gtk_label_new(info.displayName().c_str());
    gtk_widget_add_css_class(name, "settings-about-name");
    gtk_box_append(GTK_BOX(head), name);
    GtkWidget* version = gtk_label_new(info.version().c_str());
    gtk_widget_add_css_class(version, "dim-label");
    gtk_label_set_selectable(GTK_LABEL(version), TRUE);
    gtk_box_append(GTK_BOX(head), version);
    GtkWidget* tagline = gtk_label_new(L10n::text("settings.about.tagline").c_str());
    gtk_widget_add_css_class(tagline, "dim-label");
    gtk_widget_add_css_class(tagline, "caption");
    gtk_box_append(GTK_BOX(head), tagline);
    gtk_box_append(GTK_BOX(root_), head);

    updateSlot_ = adw_clamp_new();
    adw_clamp_set_maximum_size(ADW_CLAMP(updateSlot_), 560);
    adw_clamp_set_tightening_threshold(ADW_CLAMP(updateSlot_), 560);
    gtk_widget_set_visible(updateSlot_, FALSE);
    gtk_box_append(GTK_BOX(root_), updateSlot_);
}

void AboutSettingsPage::setUpdateGroup(GtkWidget* group) {
    adw_clamp_set_child(ADW_CLAMP(updateSlot_), group);
    gtk_widget_set_visible(updateSlot_, group != nullptr);
}

}  // namespace larkspin
