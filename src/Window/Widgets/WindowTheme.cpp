#include "Window/Widgets/WindowTheme.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <string>

#include "Platform/Log.hpp"
#include "Window/WindowStyle.hpp"

namespace larkspin::WindowTheme {

namespace {

int installed = 0;

GtkCssProvider* provider() {
    static GtkCssProvider* shared = nullptr;
    if (!shared) {
        GdkDisplay* display = gdk_display_get_default();
        if (!display) return nullptr;
        shared = gtk_css_provider_new();
        gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(shared),
                                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        ++installed;
    }
    return shared;
}

}  // namespace

void apply(const Theme& theme) {
    GtkCssProvider* css = provider();
    if (!css) {
        AppLog::document.error("窗口主题：没有显示");
        return;
    }
    const std::string text = WindowStyle::css(theme);
    gtk_css_provider_load_from_data(css, text.c_str(), static_cast<gssize>(text.size()));
    adw_style_manager_set_color_scheme(
        adw_style_manager_get_default(),
        WindowStyle::isDark(theme) ? ADW_COLOR_SCHEME_FORCE_DARK : ADW_COLOR_SCHEME_FORCE_LIGHT);
}

int providersInstalled() {
    return installed;
}

}  // namespace larkspin::WindowTheme
