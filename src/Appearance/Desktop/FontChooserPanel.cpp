#include "Appearance/Desktop/FontChooserPanel.hpp"

#include <gtk/gtk.h>

#include <cmath>

#include "Platform/Localization.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Appearance/Fonts/FontResolver.hpp"

namespace larkspin {

namespace {

gboolean onlyMonospace(const PangoFontFamily* family, const PangoFontFace*, gpointer) {
    return pango_font_family_is_monospace(const_cast<PangoFontFamily*>(family));
}

PangoFontDescription* describe(const ReaderFont& font) {
    PangoFontDescription* desc = pango_font_description_new();
    const char* family = !font.family.empty() ? font.family.c_str()
                         : font.monospace     ? "Monospace"
                                              : "Sans";
    pango_font_description_set_family(desc, family);
    pango_font_description_set_weight(desc, static_cast<PangoWeight>(font.cssWeight));
    pango_font_description_set_absolute_size(desc, std::max(1.0, font.sizePx) * PANGO_SCALE);
    return desc;
}

}  // namespace

FontChooserPanel::FontChooserPanel(GtkWindow* parent) : parent_(parent) {
    if (parent_)
        g_object_add_weak_pointer(G_OBJECT(parent_), reinterpret_cast<gpointer*>(&parent_));
}

FontChooserPanel::~FontChooserPanel() {
    if (parent_)
        g_object_remove_weak_pointer(G_OBJECT(parent_), reinterpret_cast<gpointer*>(&parent_));
    if (dialog_) {
        g_signal_handlers_disconnect_by_data(dialog_, this);
        gtk_window_destroy(GTK_WINDOW(dialog_));
        g_object_unref(dialog_);
    }
}

void FontChooserPanel::present(const ReaderFont& font, bool monospaceOnly, bool orderFront,
                               Choice onChoose) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!dialog_) {
        const std::string title = L10n::text("typography.fontPanel.title");
        dialog_ =
            GTK_WIDGET(g_object_ref_sink(gtk_font_chooser_dialog_new(title.c_str(), parent_)));
        gtk_window_set_hide_on_close(GTK_WINDOW(dialog_), TRUE);
        gtk_font_chooser_set_level(GTK_FONT_CHOOSER(dialog_),
                                   static_cast<GtkFontChooserLevel>(GTK_FONT_CHOOSER_LEVEL_FAMILY |
                                                                    GTK_FONT_CHOOSER_LEVEL_STYLE));
        g_signal_connect(dialog_, "response", G_CALLBACK(&FontChooserPanel::onResponse), this);
    }
    onChoose_ = std::move(onChoose);
    GtkFontChooser* chooser = GTK_FONT_CHOOSER(dialog_);
    gtk_font_chooser_set_filter_func(chooser, monospaceOnly ? onlyMonospace : nullptr, nullptr,
                                     nullptr);
    PangoFontDescription* desc = describe(font);
    gtk_font_chooser_set_font_desc(chooser, desc);
    pango_font_description_free(desc);
    if (orderFront) gtk_window_present(GTK_WINDOW(dialog_));
}

void FontChooserPanel::onResponse(GtkWidget*, int response, void* self) {
    static_cast<FontChooserPanel*>(self)->respond(response);
}

void FontChooserPanel::respond(int response) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    gtk_widget_set_visible(dialog_, FALSE);
    if (response != GTK_RESPONSE_OK || !onChoose_) return;
    GtkFontChooser* chooser = GTK_FONT_CHOOSER(dialog_);
    FontPanelSelection selection;
    PangoFontFamily* family = gtk_font_chooser_get_font_family(chooser);
    PangoFontFace* face = gtk_font_chooser_get_font_face(chooser);
    PangoFontDescription* desc = gtk_font_chooser_get_font_desc(chooser);
    if (family) selection.familyName = pango_font_family_get_name(family);
    if (selection.familyName.empty() && desc && pango_font_description_get_family(desc)) {
        selection.familyName = pango_font_description_get_family(desc);
    }
    selection.cssWeight = FontResolver::cssWeightFromOpenType(
        desc ? static_cast<double>(pango_font_description_get_weight(desc)) : 400.0);
    if (desc) pango_font_description_free(desc);
    std::string faceName = face ? pango_font_face_get_face_name(face) : "";
    tasks_.spawn(choose(std::move(selection), std::move(faceName)));
}

Task<void> FontChooserPanel::choose(FontPanelSelection selection, std::string faceName) {
    // Pango names faces by fontconfig's style; find the face for its
    // PostScript name and its own weight.
    auto resolve = [family = selection.familyName] { return FontResolver::resolve(family); };
    const std::optional<FontResolver::ResolvedFont> resolved =
        co_await runOn(WorkerPool::shared(), std::move(resolve));
    if (resolved) {
        const FontResolver::Face* match = nullptr;
        for (const auto& f : resolved->faces) {
            if (f.styleName == faceName) {
                match = &f;
                break;
            }
        }
        if (!match) {
            for (const auto& f : resolved->faces) {
                if (!match || std::abs(f.cssWeight - selection.cssWeight) <
                                  std::abs(match->cssWeight - selection.cssWeight)) {
                    match = &f;
                }
            }
        }
        if (match) {
            selection.postScriptName = match->postScriptName;
            selection.cssWeight = match->cssWeight;
        }
    }
    // The callback may replace or drop this panel's callback: call a copy.
    Choice onChoose = onChoose_;
    if (onChoose) onChoose(selection);
}

}  // namespace larkspin
