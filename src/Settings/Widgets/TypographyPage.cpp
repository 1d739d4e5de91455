#include "Settings/Widgets/TypographyPage.hpp"

#include <adwaita.h>

#include <algorithm>

#include "Appearance/TypographySettings.hpp"
#include "Platform/Localization.hpp"
#include "Settings/SettingsModel.hpp"
#include "Settings/Widgets/SettingsRows.hpp"

namespace larkspin {

namespace {

// Resumes on a later turn of the main loop, so that the page draws between
// two enumerations.
auto nextTurn() {
    return awaitCompletion<void>([](Completion<void> done) { done.resolve(); });
}

std::string roleTitle(TypographyFontRole role) {
    switch (role) {
    case TypographyFontRole::body: return L10n::text("settings.typography.body_font");
    case TypographyFontRole::mono: return L10n::text("settings.typography.code_font");
    case TypographyFontRole::heading: return L10n::text("settings.typography.heading_font");
    }
    return {};
}

// The popup of a family picker: a divider under "系统默认" when names follow.
void setupFamilyItem(GtkSignalListItemFactory*, GtkListItem* item, void*) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_box_append(GTK_BOX(box), label);
    GtkWidget* divider = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_widget_set_margin_top(divider, 4);
    gtk_box_append(GTK_BOX(box), divider);
    gtk_list_item_set_child(item, box);
}

void bindFamilyItem(GtkSignalListItemFactory*, GtkListItem* item, void* picker) {
    GtkWidget* box = gtk_list_item_get_child(item);
    GtkWidget* label = gtk_widget_get_first_child(box);
    GtkWidget* divider = gtk_widget_get_last_child(box);
    auto* text = GTK_STRING_OBJECT(gtk_list_item_get_item(item));
    gtk_label_set_text(GTK_LABEL(label), text ? gtk_string_object_get_string(text) : "");
    GListModel* model = gtk_drop_down_get_model(GTK_DROP_DOWN(picker));
    const bool more = model && g_list_model_get_n_items(model) > 1;
    gtk_widget_set_visible(divider, gtk_list_item_get_position(item) == 0 && more);
}

template <typename Preset, std::size_t N>
std::vector<std::string> presetNames(const std::array<Preset, N>& presets) {
    std::vector<std::string> names;
    for (Preset preset : presets) names.push_back(localizedName(preset));
    return names;
}

template <typename Preset, std::size_t N>
void selectPreset(GtkWidget* picker, const std::array<Preset, N>& presets, Preset value) {
    for (guint i = 0; i < N; ++i) {
        if (presets[i] == value && gtk_drop_down_get_selected(GTK_DROP_DOWN(picker)) != i) {
            gtk_drop_down_set_selected(GTK_DROP_DOWN(picker), i);
        }
    }
}

}  // namespace

TypographySettingsPage::TypographySettingsPage(SettingsModel& model) : SettingsPage(model) {
    root_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 20);
    gtk_widget_set_valign(root_, GTK_ALIGN_START);

    // Size.
    const std::string sizeTitle = L10n::text("settings.typography.font_size");
    slider_ = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, TypographySettings::minimumFontSize,
                                       TypographySettings::maximumFontSize, 1);
    gtk_scale_set_draw_value(GTK_SCALE(slider_), FALSE);
    gtk_range_set_round_digits(GTK_RANGE(slider_), 0);
    gtk_range_set_increments(GTK_RANGE(slider_), 1, 1);
    gtk_widget_set_hexpand(slider_, TRUE);
    gtk_accessible_update_property(GTK_ACCESSIBLE(slider_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   sizeTitle.c_str(), -1);
    connect(slider_, "value-changed", G_CALLBACK(onSliderValue));
    GtkEventController* pointer = gtk_event_controller_legacy_new();
    gtk_event_controller_set_propagation_phase(pointer, GTK_PHASE_CAPTURE);
    connect(pointer, "event", G_CALLBACK(onSliderEvent));
    gtk_widget_add_controller(slider_, pointer);
    sizeLabel_ = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(sizeLabel_), 1);
    gtk_widget_set_size_request(sizeLabel_, 44, -1);
    gtk_widget_add_css_class(sizeLabel_, "numeric");
    down_ = gtk_button_new_from_icon_name("list-remove-symbolic");
    up_ = gtk_button_new_from_icon_name("list-add-symbolic");
    gtk_accessible_update_property(GTK_ACCESSIBLE(down_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("menu.view.zoom_out").c_str(), -1);
    gtk_accessible_update_property(GTK_ACCESSIBLE(up_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("menu.view.zoom_in").c_str(), -1);
    connect(down_, "clicked", G_CALLBACK(onStep));
    connect(up_, "clicked", G_CALLBACK(onStep));
    GtkWidget* stepper = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_add_css_class(stepper, "linked");
    gtk_widget_set_valign(stepper, GTK_ALIGN_CENTER);
    gtk_box_append(GTK_BOX(stepper), down_);
    gtk_box_append(GTK_BOX(stepper), up_);
    GtkWidget* sizeBox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_widget_set_size_request(sizeBox, -1, 39);
    gtk_box_append(GTK_BOX(sizeBox), slider_);
    gtk_box_append(GTK_BOX(sizeBox), sizeLabel_);
    gtk_box_append(GTK_BOX(sizeBox), stepper);
    GtkWidget* sizeGroup = SettingsRows::group(sizeTitle);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(sizeGroup), SettingsRows::boxRow(sizeBox, 6));
    gtk_box_append(GTK_BOX(root_), sizeGroup);

    // Layout.
    GtkWidget* layout = SettingsRows::group(L10n::text("settings.typography.layout"));
    const std::string widthTitle = L10n::text("menu.view.body_width");
    width_ = SettingsRows::dropDown(presetNames(allWidthPresets), widthTitle, 140);
    connect(width_, "notify::selected", G_CALLBACK(onWidth));
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(layout), SettingsRows::row(widthTitle, "", width_));
    const std::string lineTitle = L10n::text("menu.view.line_height");
    lineHeight_ = SettingsRows::dropDown(presetNames(allLineHeightPresets), lineTitle, 140);
    connect(lineHeight_, "notify::selected", G_CALLBACK(onLineHeight));
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(layout),
                              SettingsRows::row(lineTitle, "", lineHeight_));
    adw_preferences_group_add(
        ADW_PREFERENCES_GROUP(layout),
        SettingsRows::switchRow(L10n::text("menu.view.wide_blocks"),
                                L10n::text("menu.view.wide_blocks.tooltip"), &wideBlocks_));
    connect(wideBlocks_, "notify::active", G_CALLBACK(onWideBlocks));
    gtk_box_append(GTK_BOX(root_), layout);

    // Fonts.
    GtkWidget* fonts = SettingsRows::group(L10n::text("settings.typography.fonts"));
    for (FontRow& font : fonts_) {
        const std::string title = roleTitle(font.role);
        font.picker = SettingsRows::dropDown({L10n::text("menu.font.system_default")}, title, 200);
        GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
        g_signal_connect(factory, "setup", G_CALLBACK(setupFamilyItem), nullptr);
        g_signal_connect(factory, "bind", G_CALLBACK(bindFamilyItem), font.picker);
        gtk_drop_down_set_list_factory(GTK_DROP_DOWN(font.picker), factory);
        g_object_unref(factory);
        connect(font.picker, "notify::selected", G_CALLBACK(onFamily));
        GtkWidget* panel =
            gtk_button_new_with_label(L10n::text("settings.typography.font_panel").c_str());
        g_object_set_data(G_OBJECT(panel), "larkspin-role", &font);
        connect(panel, "clicked", G_CALLBACK(onFontPanel));
        GtkWidget* controls = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
        gtk_box_append(GTK_BOX(controls), font.picker);
        gtk_box_append(GTK_BOX(controls), panel);
        font.row = SettingsRows::row(title, " ", controls);
        adw_preferences_group_add(ADW_PREFERENCES_GROUP(fonts), font.row);
    }
    const std::string weightTitleText = L10n::text("settings.typography.weight");
    weight_ = SettingsRows::dropDown({}, weightTitleText, 140);
    connect(weight_, "notify::selected", G_CALLBACK(onWeight));
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(fonts),
                              SettingsRows::row(weightTitleText, "", weight_));
    const std::string restoreTitle = L10n::text("menu.view.restore_theme_typography");
    GtkWidget* restore = gtk_button_new_with_label(restoreTitle.c_str());
    connect(restore, "clicked", G_CALLBACK(onRestore));
    adw_preferences_group_add(
        ADW_PREFERENCES_GROUP(fonts),
        SettingsRows::row(restoreTitle, L10n::text("menu.view.restore_theme_typography.tooltip"),
                          restore));
    gtk_box_append(GTK_BOX(root_), fonts);
    refresh();
}

TypographySettingsPage::~TypographySettingsPage() {
    disconnectSignals();
    cancelPause();
}

GtkWidget* TypographySettingsPage::familyPicker(TypographyFontRole role) const {
    for (const FontRow& font : fonts_) {
        if (font.role == role) return font.picker;
    }
    return nullptr;
}

void TypographySettingsPage::shown() {
    refresh();
    familyTask_.spawn(loadFamilies());
}

Task<void> TypographySettingsPage::loadFamilies() {
    co_await nextTurn();
    for (TypographyFontRole role : allTypographyFontRoles) {
        families_[role] = co_await model_.candidateFamilies(role);
        refresh();
        co_await nextTurn();
    }
}

void TypographySettingsPage::update() {
    const TypographySettings settings = model_.typography();
    // A drag keeps its own value until it ends.
    if (!commit_.dragging() && !pause_) {
        gtk_range_set_value(GTK_RANGE(slider_), settings.fontSizePx);
    }
    gtk_label_set_text(GTK_LABEL(sizeLabel_),
                       fontSizeLabel(gtk_range_get_value(GTK_RANGE(slider_))).c_str());
    gtk_widget_set_sensitive(down_, fontSizeStep(settings.fontSizePx, -1).has_value());
    gtk_widget_set_sensitive(up_, fontSizeStep(settings.fontSizePx, 1).has_value());

    selectPreset(width_, allWidthPresets, settings.widthPreset);
    selectPreset(lineHeight_, allLineHeightPresets, settings.lineHeightPreset);
    gtk_switch_set_active(GTK_SWITCH(wideBlocks_), settings.wideBlocks == WideBlockMode::full);

    for (FontRow& font : fonts_) updateFontRow(font);

    weights_ = model_.availableBodyWeights();
    std::vector<std::string> names;
    for (int weight : weights_) names.push_back(weightTitle(weight));
    SettingsRows::setItems(weight_, names);
    // The weight really used, which may differ from the stored one; shown
    // only, never stored back.
    const std::int64_t effective = model_.fontStatus(TypographyFontRole::body).effectiveWeight;
    const auto at = std::find(weights_.begin(), weights_.end(), effective);
    gtk_drop_down_set_selected(GTK_DROP_DOWN(weight_),
                               at == weights_.end() ? GTK_INVALID_LIST_POSITION
                                                    : static_cast<guint>(at - weights_.begin()));
}

void TypographySettingsPage::updateFontRow(FontRow& font) {
    const std::string selection = model_.family(font.role);
    const auto known = families_.find(font.role);
    font.options = familyOptions(selection, known == families_.end() ? std::vector<std::string>{}
                                                                     : known->second);
    std::vector<std::string> items{L10n::text("menu.font.system_default")};
    items.insert(items.end(), font.options.begin(), font.options.end());
    SettingsRows::setItems(font.picker, items);
    guint index = 0;
    if (!selection.empty()) {
        const auto at = std::find(font.options.begin(), font.options.end(), selection);
        index = static_cast<guint>(at - font.options.begin()) + 1;
    }
    if (gtk_drop_down_get_selected(GTK_DROP_DOWN(font.picker)) != index) {
        gtk_drop_down_set_selected(GTK_DROP_DOWN(font.picker), index);
    }
    adw_action_row_set_subtitle(ADW_ACTION_ROW(font.row), model_.fontStatus(font.role).message().c_str());
}

// ---- the size ----

void TypographySettingsPage::onSliderValue(GtkWidget*, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    if (self->quiet()) return;
    const double value = gtk_range_get_value(GTK_RANGE(self->slider_));
    gtk_label_set_text(GTK_LABEL(self->sizeLabel_), fontSizeLabel(value).c_str());
    if (!self->commit_.changed()) return;
    self->cancelPause();
    self->pause_ = g_timeout_add(FontSizeSliderCommit::pauseMilliseconds, onPause, self);
}

int TypographySettingsPage::onSliderEvent(GtkEventControllerLegacy*, GdkEvent* event, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    switch (gdk_event_get_event_type(event)) {
    case GDK_BUTTON_PRESS:
    case GDK_TOUCH_BEGIN: self->sliderPressed(); break;
    case GDK_BUTTON_RELEASE:
    case GDK_TOUCH_END:
    case GDK_TOUCH_CANCEL: self->sliderReleased(); break;
    default: break;
    }
    return GDK_EVENT_PROPAGATE;
}

void TypographySettingsPage::sliderPressed() {
    cancelPause();
    commit_.pressed();
}

void TypographySettingsPage::sliderReleased() {
    const double value = gtk_range_get_value(GTK_RANGE(slider_));
    const auto size = commit_.released(value, model_.typography().fontSizePx);
    if (size && !quiet()) model_.setFontSize(*size);
}

int TypographySettingsPage::onPause(void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    self->pause_ = 0;
    const double value = gtk_range_get_value(GTK_RANGE(self->slider_));
    const auto size = self->commit_.paused(value, self->model_.typography().fontSizePx);
    if (size && !self->quiet()) self->model_.setFontSize(*size);
    return G_SOURCE_REMOVE;
}

void TypographySettingsPage::cancelPause() {
    if (pause_) g_source_remove(pause_);
    pause_ = 0;
}

void TypographySettingsPage::onStep(GtkWidget* button, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    if (self->quiet()) return;
    const int direction = button == self->up_ ? 1 : -1;
    if (const auto size = fontSizeStep(self->model_.typography().fontSizePx, direction)) {
        self->cancelPause();
        self->model_.setFontSize(*size);
    }
}

// ---- layout ----

void TypographySettingsPage::onWidth(GObject*, GParamSpec*, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    const guint index = gtk_drop_down_get_selected(GTK_DROP_DOWN(self->width_));
    if (self->quiet() || index >= allWidthPresets.size()) return;
    self->model_.setWidthPreset(allWidthPresets[index]);
}

void TypographySettingsPage::onLineHeight(GObject*, GParamSpec*, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    const guint index = gtk_drop_down_get_selected(GTK_DROP_DOWN(self->lineHeight_));
    if (self->quiet() || index >= allLineHeightPresets.size()) return;
    self->model_.setLineHeightPreset(allLineHeightPresets[index]);
}

void TypographySettingsPage::onWideBlocks(GObject*, GParamSpec*, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    if (self->quiet()) return;
    self->model_.setWideBlocks(gtk_switch_get_active(GTK_SWITCH(self->wideBlocks_))
                                   ? WideBlockMode::full
                                   : WideBlockMode::aligned);
}

// ---- fonts ----

void TypographySettingsPage::onFamily(GObject* picker, GParamSpec*, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    if (self->quiet()) return;
    for (FontRow& font : self->fonts_) {
        if (G_OBJECT(font.picker) != picker) continue;
        const guint index = gtk_drop_down_get_selected(GTK_DROP_DOWN(font.picker));
        if (index == GTK_INVALID_LIST_POSITION || index > font.options.size()) return;
        // Stored on the next turn: storing refreshes the page, which may
        // replace this picker's list, and the picker is still in the middle
        // of handling the choice (its popup's row, its selection).
        std::string family = index == 0 ? std::string() : font.options[index - 1];
        self->familyChoice_.spawn(self->chooseFamily(font.role, std::move(family)));
    }
}

Task<void> TypographySettingsPage::chooseFamily(TypographyFontRole role, std::string family) {
    co_await nextTurn();
    // The family's fonts are read on the workers; storing it then finds
    // them in memory.
    co_await model_.prepareFamily(family);
    if (!quiet()) model_.setFamily(family, role);
}

void TypographySettingsPage::onFontPanel(GtkWidget* button, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    const auto* font = static_cast<const FontRow*>(g_object_get_data(G_OBJECT(button), "larkspin-role"));
    if (self->quiet() || !font) return;
    self->model_.showFontPanel(font->role);
}

void TypographySettingsPage::onWeight(GObject*, GParamSpec*, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    const guint index = gtk_drop_down_get_selected(GTK_DROP_DOWN(self->weight_));
    if (self->quiet() || index >= self->weights_.size()) return;
    self->model_.setFontWeight(self->weights_[index]);
}

void TypographySettingsPage::onRestore(GtkWidget*, void* data) {
    auto* self = static_cast<TypographySettingsPage*>(data);
    if (self->quiet()) return;
    self->model_.restoreThemeTypography();
}

}  // namespace larkspin
