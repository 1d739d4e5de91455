#include "Reader/Widgets/ResourceBannerView.hpp"

#include "Platform/Localization.hpp"
#include "Reader/Widgets/ReaderWidgetStyle.hpp"

namespace larkspin {

namespace {

// Buttons small enough for a 32-pixel strip.
constexpr const char* smallButtonCss =
    "button { min-height: 22px; min-width: 22px; padding: 0 8px; margin: 0; font-size: 0.85em; }";

}  // namespace

ResourceBannerView::ResourceBannerView() {
    root_ = GObjectPtr<GtkWidget>::adopt(GTK_WIDGET(g_object_new(
        GTK_TYPE_BOX, "orientation", GTK_ORIENTATION_VERTICAL, "accessible-role",
        GTK_ACCESSIBLE_ROLE_GROUP, nullptr)));
    GtkWidget* root = root_.get();
    gtk_widget_set_name(root, "Orvik.resourceBanner");
    gtk_widget_set_valign(root, GTK_ALIGN_START);
    gtk_widget_set_size_request(root, -1, height);
    ReaderWidgetStyle::setWidgetCss(root, "box { background-color: @window_bg_color; }");

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_vexpand(row, TRUE);
    gtk_widget_set_margin_start(row, 20);
    gtk_widget_set_margin_end(row, 8);
    label_ = gtk_label_new(nullptr);
    gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
    gtk_label_set_xalign(GTK_LABEL(label_), 0);
    gtk_widget_set_hexpand(label_, TRUE);
    gtk_widget_set_valign(label_, GTK_ALIGN_CENTER);
    ReaderWidgetStyle::setWidgetCss(label_, "label { font-size: 0.85em; }");

    action_ = gtk_button_new();
    gtk_widget_set_valign(action_, GTK_ALIGN_CENTER);
    ReaderWidgetStyle::setWidgetCss(action_, smallButtonCss);
    g_signal_connect(action_, "clicked", G_CALLBACK(&ResourceBannerView::onActionClicked), this);

    close_ = gtk_button_new_from_icon_name("window-close-symbolic");
    gtk_widget_add_css_class(close_, "flat");
    gtk_widget_set_valign(close_, GTK_ALIGN_CENTER);
    gtk_widget_set_tooltip_text(close_, L10n::text("banner.close.tooltip").c_str());
    gtk_accessible_update_property(GTK_ACCESSIBLE(close_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("banner.close.accessibility").c_str(), -1);
    ReaderWidgetStyle::setWidgetCss(close_, smallButtonCss);
    g_signal_connect(close_, "clicked", G_CALLBACK(&ResourceBannerView::onCloseClicked), this);

    gtk_box_append(GTK_BOX(row), label_);
    gtk_box_append(GTK_BOX(row), action_);
    gtk_box_append(GTK_BOX(row), close_);
    gtk_box_append(GTK_BOX(root), row);
    gtk_box_append(GTK_BOX(root), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));
}

void ResourceBannerView::configure(const std::string& message, const std::string& actionTitle,
                                   std::function<void()> onAction, std::function<void()> onDismiss) {
    gtk_label_set_text(GTK_LABEL(label_), message.c_str());
    gtk_widget_set_tooltip_text(label_, message.c_str());
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
