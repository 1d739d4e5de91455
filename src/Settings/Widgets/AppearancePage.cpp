#include "Settings/Widgets/AppearancePage.hpp"

#include <adwaita.h>

#include <cmath>

#include "Appearance/ThemeCatalog.hpp"
#include "Platform/Localization.hpp"
#include "Settings/SettingsModel.hpp"
#include "Settings/Widgets/SettingsRows.hpp"

namespace larkspin {

namespace {

constexpr double previewHeight = 64;
constexpr double nameRowHeight = 28;

struct Rgba {
    double r, g, b, a;
};

// A theme colour; magenta when its text does not parse.
Rgba color(const HexColor& hex) {
    if (const auto c = hex.components()) return {c->red, c->green, c->blue, c->alpha};
    return {1, 0, 1, 1};
}

void setSource(cairo_t* cr, const Rgba& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double topRadius,
                 double bottomRadius) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - topRadius, y + topRadius, topRadius, -M_PI / 2, 0);
    cairo_arc(cr, x + w - bottomRadius, y + h - bottomRadius, bottomRadius, 0, M_PI / 2);
    cairo_arc(cr, x + bottomRadius, y + h - bottomRadius, bottomRadius, M_PI / 2, M_PI);
    cairo_arc(cr, x + topRadius, y + topRadius, topRadius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void capsule(cairo_t* cr, double x, double y, double w, double h) {
    roundedRect(cr, x, y, w, h, h / 2, h / 2);
}

GdkRGBA widgetColor(GtkWidget* widget) {
    GdkRGBA rgba;
    gtk_style_context_get_color(gtk_widget_get_style_context(widget), &rgba);
    return rgba;
}

GdkRGBA accentColor(GtkWidget* widget) {
    GdkRGBA rgba{0.21, 0.52, 0.89, 1};
    gtk_style_context_lookup_color(gtk_widget_get_style_context(widget), "accent_color", &rgba);
    return rgba;
}

PangoLayout* textLayout(GtkWidget* widget, const std::string& text, double pixels) {
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, text.c_str());
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_absolute_size(font, pixels * PANGO_SCALE);
    pango_font_description_set_weight(font, PANGO_WEIGHT_MEDIUM);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    return layout;
}

}  // namespace

AppearanceSettingsPage::AppearanceSettingsPage(SettingsModel& model) : SettingsPage(model) {
    root_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 20);
    gtk_widget_set_valign(root_, GTK_ALIGN_START);

    GtkWidget* modeBox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_add_css_class(modeBox, "linked");
    gtk_widget_set_halign(modeBox, GTK_ALIGN_FILL);
    gtk_box_set_homogeneous(GTK_BOX(modeBox), TRUE);
    gtk_accessible_update_property(GTK_ACCESSIBLE(modeBox), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("settings.appearance.mode").c_str(), -1);
    for (std::size_t i = 0; i < allAppearanceModes.size(); ++i) {
        modes_[i] = gtk_toggle_button_new_with_label(localizedName(allAppearanceModes[i]).c_str());
        gtk_widget_set_hexpand(modes_[i], TRUE);
        if (i > 0) gtk_toggle_button_set_group(GTK_TOGGLE_BUTTON(modes_[i]), GTK_TOGGLE_BUTTON(modes_[0]));
        connect(modes_[i], "toggled", G_CALLBACK(onMode));
        gtk_box_append(GTK_BOX(modeBox), modes_[i]);
    }
    GtkWidget* modeGroup = SettingsRows::group(L10n::text("settings.appearance.mode"));
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(modeGroup), SettingsRows::boxRow(modeBox, 14));
    gtk_box_append(GTK_BOX(root_), modeGroup);

    GtkWidget* grids = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_box_append(GTK_BOX(grids), themeGrid(ThemeAppearance::light));
    gtk_box_append(GTK_BOX(grids), themeGrid(ThemeAppearance::dark));
    GtkWidget* themes = SettingsRows::group(L10n::text("settings.appearance.themes"));
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(themes), SettingsRows::boxRow(grids, 14));

    const std::string restoreTitle = L10n::text("menu.view.restore_all_appearance");
    restore_ = gtk_button_new_with_label(restoreTitle.c_str());
    connect(restore_, "clicked", G_CALLBACK(onRestore));
    adw_preferences_group_add(
        ADW_PREFERENCES_GROUP(themes),
        SettingsRows::row(restoreTitle, L10n::text("menu.view.restore_all_appearance.tooltip"),
                          restore_));
    gtk_box_append(GTK_BOX(root_), themes);
    refresh();
}

GtkWidget* AppearanceSettingsPage::themeGrid(ThemeAppearance appearance) {
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 12);
    gtk_grid_set_column_homogeneous(GTK_GRID(grid), TRUE);
    int index = 0;
    for (ThemeID id : themesOf(appearance)) {
        auto card = std::make_unique<Card>();
        card->theme = ThemeCatalog::theme(id);
        card->page = this;
        card->area = gtk_drawing_area_new();
        gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(card->area),
                                            static_cast<int>(previewHeight + nameRowHeight));
        gtk_widget_set_hexpand(card->area, TRUE);
        gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(card->area), drawCard, card.get(), nullptr);
        card->button = gtk_button_new();
        gtk_widget_add_css_class(card->button, "settings-theme-card");
        gtk_widget_set_hexpand(card->button, TRUE);
        gtk_button_set_child(GTK_BUTTON(card->button), card->area);
        gtk_accessible_update_property(GTK_ACCESSIBLE(card->button), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       card->theme.localizedName.c_str(), -1);
        connect(card->button, "clicked", G_CALLBACK(onCard), card.get());
        gtk_grid_attach(GTK_GRID(grid), card->button, index % 3, index / 3, 1, 1);
        ++index;
        cards_.push_back(std::move(card));
    }
    return grid;
}

GtkWidget* AppearanceSettingsPage::modeButton(AppearanceMode mode) const {
    for (std::size_t i = 0; i < allAppearanceModes.size(); ++i) {
        if (allAppearanceModes[i] == mode) return modes_[i];
    }
    return nullptr;
}

void AppearanceSettingsPage::update() {
    const AppearanceMode mode = model_.appearanceMode();
    for (std::size_t i = 0; i < allAppearanceModes.size(); ++i) {
        const bool on = allAppearanceModes[i] == mode;
        if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(modes_[i])) != on) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(modes_[i]), on);
        }
    }
    const ThemeID current = model_.currentThemeID();
    const ThemeID light = model_.selectedLightThemeID();
    const ThemeID dark = model_.selectedDarkThemeID();
    for (const auto& card : cards_) {
        card->marks = themeCardMarks(card->theme.id, current, light, dark);
        gtk_accessible_update_state(GTK_ACCESSIBLE(card->button), GTK_ACCESSIBLE_STATE_SELECTED,
                                    card->marks.isCurrent ? TRUE : FALSE, -1);
        gtk_widget_queue_draw(card->area);
    }
}

void AppearanceSettingsPage::onMode(GtkWidget* button, void* data) {
    auto* self = static_cast<AppearanceSettingsPage*>(data);
    if (self->quiet() || !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button))) return;
    for (std::size_t i = 0; i < allAppearanceModes.size(); ++i) {
        if (self->modes_[i] == button) self->model_.setAppearanceMode(allAppearanceModes[i]);
    }
}

void AppearanceSettingsPage::onCard(GtkWidget*, void* data) {
    auto* card = static_cast<Card*>(data);
    if (card->page->quiet()) return;
    // Also on the current card: selecting always announces.
    card->page->model_.selectTheme(card->theme.id);
}

void AppearanceSettingsPage::onRestore(GtkWidget*, void* data) {
    auto* self = static_cast<AppearanceSettingsPage*>(data);
    if (self->quiet()) return;
    self->model_.restoreAllAppearanceDefaults();
}

void AppearanceSettingsPage::drawCard(GtkDrawingArea* drawingArea, cairo_t* cr, int width,
                                      int height, void* data) {
    GtkWidget* area = GTK_WIDGET(drawingArea);
    const auto* card = static_cast<const Card*>(data);
    const Theme& theme = card->theme;
    const double w = width;
    const double h = height;
    const bool dark = adw_style_manager_get_dark(adw_style_manager_get_default());

    // The card's fill.
    roundedRect(cr, 0, 0, w, h, 9, 9);
    if (dark) {
        cairo_set_source_rgba(cr, 1, 1, 1, 0.06);
    } else {
        cairo_set_source_rgba(cr, 120 / 255.0, 120 / 255.0, 128 / 255.0, 0.075);
    }
    cairo_fill(cr);

    // The miniature page: rounded at the top only.
    cairo_save(cr);
    roundedRect(cr, 0, 0, w, previewHeight, 8, 0.01);
    cairo_clip(cr);
    setSource(cr, color(theme.web.canvas));
    cairo_paint(cr);
    const double inner = std::max(0.0, w - 20);
    struct Bar {
        const HexColor& hex;
        double fraction, height;
    };
    const Bar bars[] = {{theme.web.text, 0.7, 6}, {theme.web.textSecondary, 0.5, 4},
                        {theme.web.link, 0.35, 4}};
    double y = 10;
    for (const Bar& bar : bars) {
        capsule(cr, 10, y, inner * bar.fraction, bar.height);
        setSource(cr, color(bar.hex));
        cairo_fill(cr);
        y += bar.height + 6;
    }
    roundedRect(cr, 10, y, 44, 10, 2, 2);
    setSource(cr, color(theme.content.codeBackground));
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 0.5);
    setSource(cr, color(theme.content.tableBorder));
    cairo_stroke(cr);
    cairo_restore(cr);

    // The name line, with the check mark on the theme in force.
    const GdkRGBA foreground = widgetColor(area);
    const GdkRGBA accent = accentColor(area);
    PangoLayout* name = textLayout(area, theme.localizedName, 12);
    int textWidth = 0;
    int textHeight = 0;
    pango_layout_get_pixel_size(name, &textWidth, &textHeight);
    const double mark = card->marks.isCurrent ? 11 + 4 : 0;
    double x = (w - textWidth - mark) / 2;
    const double lineY = previewHeight + (nameRowHeight - textHeight) / 2;
    cairo_move_to(cr, x, lineY);
    gdk_cairo_set_source_rgba(cr, &foreground);
    pango_cairo_show_layout(cr, name);
    g_object_unref(name);
    if (card->marks.isCurrent) {
        const double cx = x + textWidth + 4 + 5.5;
        const double cy = previewHeight + nameRowHeight / 2;
        cairo_arc(cr, cx, cy, 5.5, 0, 2 * M_PI);
        gdk_cairo_set_source_rgba(cr, &accent);
        cairo_fill(cr);
        cairo_move_to(cr, cx - 2.6, cy + 0.1);
        cairo_line_to(cr, cx - 0.7, cy + 2);
        cairo_line_to(cr, cx + 2.7, cy - 2);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_set_line_width(cr, 1.4);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke(cr);
    }

    // The outline, inside the card's edge.
    const double line = card->marks.isCurrent ? 2 : 1;
    roundedRect(cr, line / 2, line / 2, w - line, h - line, 9 - line / 2, 9 - line / 2);
    cairo_set_line_width(cr, line);
    if (card->marks.isCurrent) {
        gdk_cairo_set_source_rgba(cr, &accent);
    } else {
        cairo_set_source_rgba(cr, foreground.red, foreground.green, foreground.blue, 0.12);
    }
    cairo_stroke(cr);

    // The badge of the other remembered pick.
    if (card->marks.isRemembered) {
        PangoLayout* badge = textLayout(area, L10n::text("settings.appearance.remembered"), 9);
        int bw = 0;
        int bh = 0;
        pango_layout_get_pixel_size(badge, &bw, &bh);
        const double boxW = bw + 10;
        const double boxH = bh + 4;
        const double bx = w - 5 - boxW;
        capsule(cr, bx, 5, boxW, boxH);
        setSource(cr, color(theme.web.surface));
        cairo_fill(cr);
        cairo_move_to(cr, bx + 5, 7);
        setSource(cr, color(theme.web.textSecondary));
        pango_cairo_show_layout(cr, badge);
        g_object_unref(badge);
    }
}

}  // namespace larkspin
