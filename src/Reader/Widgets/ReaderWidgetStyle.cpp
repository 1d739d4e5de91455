#include "Reader/Widgets/ReaderWidgetStyle.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace larkspin::ReaderWidgetStyle {

namespace {

constexpr const char* providerKey = "larkspin-widget-css";

int channel(double value) {
    if (!std::isfinite(value)) return 0;
    return static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
}

}  // namespace

std::string cssColor(const ColorComponents& color) {
    const double alpha = std::isfinite(color.alpha) ? std::clamp(color.alpha, 0.0, 1.0) : 1.0;
    return fmt::format("rgba({},{},{},{:.3f})", channel(color.red), channel(color.green),
                       channel(color.blue), alpha);
}

GdkRGBA rgba(const ColorComponents& color) {
    return GdkRGBA{static_cast<float>(color.red), static_cast<float>(color.green),
                   static_cast<float>(color.blue), static_cast<float>(color.alpha)};
}

void setWidgetCss(GtkWidget* widget, const std::string& css) {
    auto* provider = static_cast<GtkCssProvider*>(g_object_get_data(G_OBJECT(widget), providerKey));
    if (provider == nullptr) {
        provider = gtk_css_provider_new();
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                       GTK_STYLE_PROVIDER(provider),
                                       GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_object_set_data_full(G_OBJECT(widget), providerKey, provider, g_object_unref);
    }
    gtk_css_provider_load_from_data(provider, css.c_str(), static_cast<gssize>(css.size()));
}

void setStripControl(GtkWidget* widget) {
    setWidgetCss(widget, fmt::format("* {{ min-height: {}px; padding-top: 0; padding-bottom: 0; }}",
                                     stripControlHeight));
}

}  // namespace larkspin::ReaderWidgetStyle
