#include "Reader/Widgets/NoticeBarViewController.hpp"

#include <gtk/gtk.h>

#include <string>

#include "Appearance/Desktop/AccessibilityAnnouncer.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Localization.hpp"
#include "Reader/Widgets/ReaderWidgetStyle.hpp"
#include "Reader/Widgets/Tooltips.hpp"

namespace larkspin {

std::shared_ptr<NoticeBarViewController> NoticeBarViewController::create() {
    std::shared_ptr<NoticeBarViewController> view(new NoticeBarViewController());
    view->build();
    return view;
}

NoticeBarViewController::NoticeBarViewController() = default;

NoticeBarViewController::~NoticeBarViewController() {
    buttons_.clear();  // disconnects the buttons from this object
}

void NoticeBarViewController::build() {
    revealer_ = GObjectPtr<GtkWidget>::adopt(gtk_revealer_new());
    gtk_revealer_set_transition_type(GTK_REVEALER(revealer_.get()),
                                     GTK_REVEALER_TRANSITION_TYPE_SLIDE_DOWN);
    gtk_revealer_set_reveal_child(GTK_REVEALER(revealer_.get()), FALSE);

    bar_ = GTK_WIDGET(g_object_new(GTK_TYPE_BOX, "orientation", GTK_ORIENTATION_HORIZONTAL,
                                   "spacing", 10, "accessible-role", GTK_ACCESSIBLE_ROLE_ALERT,
                                   nullptr));
    gtk_widget_set_name(bar_, "Orvik.conflictBar");
    gtk_widget_add_css_class(bar_, "notice-bar");
    gtk_widget_set_size_request(bar_, -1, ReaderWidgetStyle::stripHeight);
    gtk_accessible_update_property(GTK_ACCESSIBLE(bar_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("a11y.conflictBar.label").c_str(), -1);
    gtk_revealer_set_child(GTK_REVEALER(revealer_.get()), bar_);

    icon_ = GTK_WIDGET(g_object_new(GTK_TYPE_IMAGE, "accessible-role",
                                    GTK_ACCESSIBLE_ROLE_PRESENTATION, nullptr));
    gtk_image_set_pixel_size(GTK_IMAGE(icon_), 16);
    gtk_widget_add_css_class(icon_, "notice-bar-icon");
    gtk_widget_set_margin_start(icon_, 14);
    gtk_widget_set_valign(icon_, GTK_ALIGN_CENTER);
    gtk_box_append(GTK_BOX(bar_), icon_);

    label_ = gtk_label_new(nullptr);
    gtk_widget_set_name(label_, "Orvik.conflictBar.message");
    gtk_widget_add_css_class(label_, "notice-bar-message");
    gtk_label_set_use_markup(GTK_LABEL(label_), FALSE);
    gtk_label_set_use_underline(GTK_LABEL(label_), FALSE);
    // Two lines at most: a narrow window wraps the message rather than
    // cutting off its reason, and only a longer one ends in an ellipsis.
    gtk_label_set_wrap(GTK_LABEL(label_), TRUE);
    gtk_label_set_wrap_mode(GTK_LABEL(label_), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_lines(GTK_LABEL(label_), 2);
    gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
    gtk_widget_set_valign(label_, GTK_ALIGN_CENTER);
    gtk_label_set_xalign(GTK_LABEL(label_), 0.0f);
    gtk_widget_set_hexpand(label_, TRUE);
    gtk_box_append(GTK_BOX(bar_), label_);

    buttonBox_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_valign(buttonBox_, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_end(buttonBox_, 12);
    gtk_box_append(GTK_BOX(bar_), buttonBox_);

    // One provider for this bar alone, on each widget it colours (a widget's
    // own provider does not reach its children).
    style_ = GObjectPtr<GtkCssProvider>::adopt(gtk_css_provider_new());
    for (GtkWidget* widget : {bar_, icon_, label_}) {
        gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                       GTK_STYLE_PROVIDER(style_.get()),
                                       GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
}

std::vector<GtkWidget*> NoticeBarViewController::buttons() const {
    std::vector<GtkWidget*> widgets;
    for (const auto& button : buttons_) widgets.push_back(button.widget);
    return widgets;
}

void NoticeBarViewController::render(const NoticeBarPresentation& presentation) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    gtk_image_set_from_icon_name(GTK_IMAGE(icon_), presentation.iconName.c_str());
    applyPalette(presentation.palette);
    gtk_label_set_text(GTK_LABEL(label_), presentation.message.c_str());
    Tooltips::setWhenCut(label_, presentation.message);

    for (auto& button : buttons_) {
        button.clicked.disconnect();
        gtk_box_remove(GTK_BOX(buttonBox_), button.widget);
    }
    buttons_.clear();
    for (std::size_t index = 0; index < presentation.actionTitles.size(); ++index) {
        const std::string& title = presentation.actionTitles[index];
        GtkWidget* button = gtk_button_new_with_label(title.c_str());
        gtk_button_set_use_underline(GTK_BUTTON(button), FALSE);
        ReaderWidgetStyle::setStripControl(button);
        gtk_widget_add_css_class(button, "notice-bar-button");
        gtk_style_context_add_provider(gtk_widget_get_style_context(button),
                                       GTK_STYLE_PROVIDER(style_.get()),
                                       GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        gtk_widget_set_name(button, ("Orvik.conflictBar.action." + std::to_string(index)).c_str());
        gtk_accessible_update_property(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       title.c_str(), -1);
        gtk_box_append(GTK_BOX(buttonBox_), button);
        auto clicked = SignalConnection::connect(
            button, "clicked", G_CALLBACK(+[](GtkButton* pressed, gpointer self) {
                static_cast<NoticeBarViewController*>(self)->pressed(GTK_WIDGET(pressed));
            }),
            this);
        buttons_.push_back({button, std::move(clicked)});
    }
}

void NoticeBarViewController::pressed(GtkWidget* button) {
    for (std::size_t index = 0; index < buttons_.size(); ++index) {
        if (buttons_[index].widget != button) continue;
        // A copy: the action may replace the buttons, the content, or the bar.
        if (const auto run = onActionPressed) run(index);
        return;
    }
}

void NoticeBarViewController::applyPalette(const NoticeBarPalette& palette) {
    gtk_css_provider_load_from_data(style_.get(), palette.css().c_str(), -1);
}

void NoticeBarViewController::setRevealed(bool revealed) {
    gtk_revealer_set_reveal_child(GTK_REVEALER(revealer_.get()), revealed);
}

void NoticeBarViewController::announce(const std::string& message) {
    AccessibilityAnnouncer::announce(message, AccessibilityAnnouncer::Priority::high, bar_);
}

}  // namespace larkspin
