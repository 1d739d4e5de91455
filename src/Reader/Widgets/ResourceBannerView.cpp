#include "Reader/Widgets/ResourceBannerView.hpp"

#include <fmt/format.h>

#include "Platform/Localization.hpp"
#include "Reader/Widgets/ReaderWidgetStyle.hpp"
#include "Reader/Widgets/Tooltips.hpp"

namespace larkspin {

ResourceBannerView::ResourceBannerView() {
    root_ = GObjectPtr<GtkWidget>::adopt(
        GTK_WIDGET(g_object_new(GTK_TYPE_BOX, "orientation", GTK_ORIENTATION_VERTICAL,
                                "accessible-role", GTK_ACCESSIBLE_ROLE_GROUP, nullptr)));
    GtkWidget* root = root_.get();
    gtk_widget_set_name(root, "Orvik.resourceBanner");
    gtk_widget_add_css_class(root, "resource-banner");
    gtk_widget_set_valign(root, GTK_ALIGN_START);
    gtk_widget_set_vexpand(root, FALSE);
    // The look of the find strip: the header's colours, a shade line under it.
    ReaderWidgetStyle::setWidgetCss(
        root, "box { background-color: @headerbar_bg_color; color: @headerbar_fg_color; }");

    // Laid out as the notice bar is: the icon 14 pixels in, the text after
    // it at the same place, the buttons at the end.
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_widget_set_size_request(row, -1, height - 1);
    gtk_widget_set_margin_start(row, 14);
    gtk_widget_set_margin_end(row, 12);
    icon_ = GTK_WIDGET(g_object_new(GTK_TYPE_IMAGE, "accessible-role",
                                    GTK_ACCESSIBLE_ROLE_PRESENTATION, "icon-name",
                                    "dialog-information-symbolic", "pixel-size", 16, nullptr));
    gtk_widget_set_valign(icon_, GTK_ALIGN_CENTER);
    ReaderWidgetStyle::setWidgetCss(icon_, "image { color: @accent_color; }");
    label_ = gtk_label_new(nullptr);
    gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
    gtk_label_set_xalign(GTK_LABEL(label_), 0);
    gtk_widget_set_hexpand(label_, TRUE);
    gtk_widget_set_valign(label_, GTK_ALIGN_CENTER);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_valign(buttons, GTK_ALIGN_CENTER);
    action_ = gtk_button_new();
    ReaderWidgetStyle::setStripControl(action_);
    actionClicked_ = SignalConnection::connect(
        action_, "clicked", G_CALLBACK(&ResourceBannerView::onActionClicked), this);

    close_ = gtk_button_new_from_icon_name("window-close-symbolic");
    gtk_widget_add_css_class(close_, "flat");
    gtk_widget_add_css_class(close_, "circular");
    Tooltips::set(close_, L10n::text("banner.close.tooltip"));
    gtk_accessible_update_property(GTK_ACCESSIBLE(close_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("banner.close.accessibility").c_str(), -1);
    ReaderWidgetStyle::setWidgetCss(
        close_, fmt::format("button {{ min-height: {0}px; min-width: {0}px; padding: 0; }}",
                            ReaderWidgetStyle::stripControlHeight));
    closeClicked_ = SignalConnection::connect(
        close_, "clicked", G_CALLBACK(&ResourceBannerView::onCloseClicked), this);

    gtk_box_append(GTK_BOX(row), icon_);
    gtk_box_append(GTK_BOX(row), label_);
    gtk_box_append(GTK_BOX(buttons), action_);
    gtk_box_append(GTK_BOX(buttons), close_);
    gtk_box_append(GTK_BOX(row), buttons);
    gtk_box_append(GTK_BOX(root), row);
    GtkWidget* shade = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
    ReaderWidgetStyle::setWidgetCss(shade,
                                    "separator { background-color: @headerbar_shade_color; }");
    gtk_box_append(GTK_BOX(root), shade);
}

void ResourceBannerView::configure(const std::string& message, const std::string& actionTitle,
                                   std::function<void()> onAction,
                                   std::function<void()> onDismiss) {
    gtk_label_set_text(GTK_LABEL(label_), message.c_str());
    Tooltips::setWhenCut(label_, message);
    gtk_button_set_label(GTK_BUTTON(action_), actionTitle.c_str());
    gtk_button_set_use_underline(GTK_BUTTON(action_), FALSE);
    gtk_accessible_update_property(GTK_ACCESSIBLE(root_.get()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   message.c_str(), -1);
    onAction_ = std::move(onAction);
    onDismiss_ = std::move(onDismiss);
}

void ResourceBannerView::onActionClicked(GtkButton*, gpointer data) {
    if (auto action = static_cast<ResourceBannerView*>(data)->onAction_) action();
}

void ResourceBannerView::onCloseClicked(GtkButton*, gpointer data) {
    if (auto dismiss = static_cast<ResourceBannerView*>(data)->onDismiss_) dismiss();
}

}  // namespace larkspin
