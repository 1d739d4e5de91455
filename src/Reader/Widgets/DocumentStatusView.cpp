#include "Reader/Widgets/DocumentStatusView.hpp"

#include "Appearance/Desktop/AccessibilityAnnouncer.hpp"
#include "Platform/Localization.hpp"
#include "Reader/Widgets/ReaderWidgetStyle.hpp"

namespace larkspin {

namespace {

GtkWidget* centredLabel() {
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_label_set_selectable(GTK_LABEL(label), FALSE);
    // A wrapping label is as narrow as one glyph at its minimum, where CJK
    // text would be a column of characters: keep a line of some length.
    gtk_label_set_width_chars(GTK_LABEL(label), 16);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    return label;
}

constexpr int iconSize = 128;
constexpr int compactIconSize = 64;  // above a preview

}  // namespace

DocumentStatusView::DocumentStatusView() {
    root_ = GObjectPtr<GtkWidget>::adopt(GTK_WIDGET(g_object_new(
        GTK_TYPE_BOX, "orientation", GTK_ORIENTATION_VERTICAL, "accessible-role",
        GTK_ACCESSIBLE_ROLE_GROUP, nullptr)));
    GtkWidget* root = root_.get();
    gtk_widget_set_name(root, "Orvik.documentStatus");
    gtk_widget_set_hexpand(root, TRUE);
    gtk_widget_set_vexpand(root, TRUE);
    gtk_accessible_update_property(GTK_ACCESSIBLE(root), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("a11y.documentStatus.label").c_str(), -1);

    // The page scrolls as a whole when the reader is shorter than its texts;
    // its own minimum height is then the scroller's, not the texts'.
    GtkWidget* outer = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(outer), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_widget_set_vexpand(outer, TRUE);
    gtk_box_append(GTK_BOX(root), outer);
    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(outer), page);

    header_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_halign(header_, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_top(header_, 36);
    gtk_widget_set_margin_bottom(header_, 36);
    gtk_widget_set_margin_start(header_, 40);
    gtk_widget_set_margin_end(header_, 40);
    icon_ = GTK_WIDGET(g_object_new(GTK_TYPE_IMAGE, "accessible-role",
                                    GTK_ACCESSIBLE_ROLE_PRESENTATION, nullptr));
    gtk_widget_set_margin_bottom(icon_, 12);
    title_ = centredLabel();
    detail_ = centredLabel();
    action_ = gtk_button_new();
    gtk_widget_set_name(action_, "Orvik.documentStatus.action");
    gtk_widget_set_halign(action_, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_top(action_, 12);
    gtk_widget_add_css_class(action_, "pill");
    gtk_widget_add_css_class(action_, "suggested-action");
    actionClicked_ =
        SignalConnection::connect(action_, "clicked", G_CALLBACK(&DocumentStatusView::onClicked), this);
    gtk_box_append(GTK_BOX(header_), icon_);
    gtk_box_append(GTK_BOX(header_), title_);
    gtk_box_append(GTK_BOX(header_), detail_);
    gtk_box_append(GTK_BOX(header_), action_);
    gtk_box_append(GTK_BOX(page), header_);

    text_ = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(text_), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(text_), FALSE);
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(text_), TRUE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(text_), GTK_WRAP_WORD_CHAR);
    for (auto margin : {&gtk_text_view_set_left_margin, &gtk_text_view_set_right_margin,
                        &gtk_text_view_set_top_margin, &gtk_text_view_set_bottom_margin}) {
        margin(GTK_TEXT_VIEW(text_), 12);
    }
    gtk_accessible_update_property(GTK_ACCESSIBLE(text_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("a11y.documentStatus.preview").c_str(), -1);
    scroller_ = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller_), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller_), text_);
    gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroller_), 120);
    gtk_widget_set_vexpand(scroller_, TRUE);
    gtk_widget_set_margin_start(scroller_, 40);
    gtk_widget_set_margin_end(scroller_, 40);
    gtk_widget_set_margin_bottom(scroller_, 40);
    gtk_widget_set_overflow(scroller_, GTK_OVERFLOW_HIDDEN);
    gtk_box_append(GTK_BOX(page), scroller_);
    ReaderWidgetStyle::setWidgetCss(scroller_, "scrolledwindow { border: 1px solid alpha(currentColor, 0.15); border-radius: 6px; }");
}

const char* DocumentStatusView::iconName(const Content& content) {
    if (content.preview) return "text-x-generic-symbolic";
    if (content.actionTitle) return "computer-fail-symbolic";
    return "dialog-warning-symbolic";
}

void DocumentStatusView::configure(const Content& content, std::function<void()> onAction) {
    content_ = content;
    onAction_ = std::move(onAction);
    const bool compact = content.preview.has_value();
    gtk_image_set_from_icon_name(GTK_IMAGE(icon_), iconName(content));
    gtk_image_set_pixel_size(GTK_IMAGE(icon_), compact ? compactIconSize : iconSize);
    gtk_widget_remove_css_class(title_, compact ? "title-1" : "title-2");
    gtk_widget_add_css_class(title_, compact ? "title-2" : "title-1");
    // Alone, the texts stand in the middle of the view; above a preview, at
    // its top, with the preview filling the rest.
    gtk_widget_set_valign(header_, compact ? GTK_ALIGN_START : GTK_ALIGN_CENTER);
    gtk_widget_set_vexpand(header_, !compact);
    gtk_widget_set_margin_bottom(header_, compact ? 24 : 36);
    gtk_label_set_text(GTK_LABEL(title_), content.title.c_str());
    gtk_label_set_text(GTK_LABEL(detail_), content.detail.c_str());
    gtk_button_set_label(GTK_BUTTON(action_), content.actionTitle.value_or("").c_str());
    gtk_button_set_use_underline(GTK_BUTTON(action_), FALSE);
    gtk_widget_set_visible(action_, content.actionTitle.has_value());
    const std::string preview = content.preview.value_or("");
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_)), preview.c_str(),
                             static_cast<int>(preview.size()));
    gtk_widget_set_visible(scroller_, compact);
    AccessibilityAnnouncer::announce(content.title + "。" + content.detail,
                                     AccessibilityAnnouncer::Priority::high, root_.get());
}

void DocumentStatusView::applyTheme(const Theme& theme) {
    using ReaderWidgetStyle::cssColor;
    theme_ = theme;
    const std::string canvas = cssColor(theme.web.canvas.nativeColor());
    const std::string secondary = cssColor(theme.web.textSecondary.nativeColor());
    ReaderWidgetStyle::setWidgetCss(root_.get(), "box { background-color: " + canvas + "; }");
    ReaderWidgetStyle::setWidgetCss(
        title_, "label { color: " + cssColor(theme.web.text.nativeColor()) + "; }");
    ReaderWidgetStyle::setWidgetCss(detail_, "label { color: " + secondary + "; }");
    ReaderWidgetStyle::setWidgetCss(icon_, "image { color: " + secondary + "; }");
    // The suggested action in the theme's own accent (the link colour, which
    // every theme makes readable on its canvas) with the canvas as its text.
    const std::string link = cssColor(theme.web.link.nativeColor());
    ReaderWidgetStyle::setWidgetCss(
        action_, "button, button:hover, button:active { background-color: " + link +
                     "; background-image: none; color: " + canvas +
                     "; }\nbutton:hover { background-image: image(alpha(" + canvas +
                     ", 0.1)); }\nbutton:active { background-image: image(alpha(" + canvas +
                     ", 0.2)); }\nbutton:focus-visible { outline-color: alpha(" + link +
                     ", 0.5); }");
    const std::string code = cssColor(theme.content.codeBackground.nativeColor());
    ReaderWidgetStyle::setWidgetCss(
        text_, "textview, textview text { background-color: " + code + "; color: " +
                   cssColor(theme.content.codeText.nativeColor()) + "; caret-color: " +
                   cssColor(theme.content.codeText.nativeColor()) + "; }");
    ReaderWidgetStyle::setWidgetCss(
        scroller_, "scrolledwindow { background-color: " + code + "; border: 1px solid " +
                       cssColor(theme.window.separator.nativeColor()) + "; border-radius: 6px; }");
}

void DocumentStatusView::onClicked(GtkButton*, gpointer data) {
    auto* self = static_cast<DocumentStatusView*>(data);
    if (self->onAction_) {
        const auto action = self->onAction_;  // the action may replace the content
        action();
    }
}

}  // namespace larkspin
