#include "Reader/Widgets/FindBarViewController.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Localization.hpp"
#include "Reader/Widgets/ReaderWidgetStyle.hpp"
#include "Reader/Widgets/Tooltips.hpp"

namespace larkspin {

namespace {

constexpr int kFieldRestMargin = 6;  // room for the shake on either side
constexpr guint kShakeMilliseconds = 320;
constexpr std::array<double, 8> kShakeFrames{0, -6, 6, -4, 4, -2, 2, 0};

void setFieldOffset(GtkWidget* field, double offset) {
    const int shift = static_cast<int>(std::lround(offset));
    gtk_widget_set_margin_start(field, kFieldRestMargin + shift);
    gtk_widget_set_margin_end(field, kFieldRestMargin - shift);
}

void onShakeValue(double value, gpointer field) {
    setFieldOffset(GTK_WIDGET(field), FindBarViewController::shakeOffset(value));
}

bool animationsEnabled(GtkWidget* widget) {
    gboolean enabled = TRUE;
    g_object_get(gtk_widget_get_settings(widget), "gtk-enable-animations", &enabled, nullptr);
    return enabled;
}

GtkWidget* iconButton(const char* icon, const char* name, std::string_view labelKey,
                      std::string_view tooltipKey) {
    GtkWidget* button = gtk_button_new_from_icon_name(icon);
    ReaderWidgetStyle::setStripControl(button);
    gtk_widget_set_name(button, name);
    Tooltips::set(button, L10n::text(tooltipKey));
    gtk_accessible_update_property(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text(labelKey).c_str(), -1);
    return button;
}

}  // namespace

std::shared_ptr<FindBarViewController> FindBarViewController::create() {
    std::shared_ptr<FindBarViewController> view(new FindBarViewController());
    view->build();
    return view;
}

FindBarViewController::FindBarViewController() = default;

FindBarViewController::~FindBarViewController() {
    // The animation may be playing (it keeps itself alive while it does):
    // finish it now, so that nothing moves the field afterwards.
    if (shake_) adw_animation_skip(shake_.get());
}

double FindBarViewController::shakeOffset(double progress) {
    const double position = std::clamp(progress, 0.0, 1.0) * (kShakeFrames.size() - 1);
    const auto index = std::min<std::size_t>(static_cast<std::size_t>(position),
                                             kShakeFrames.size() - 2);
    const double fraction = position - static_cast<double>(index);
    return kShakeFrames[index] + (kShakeFrames[index + 1] - kShakeFrames[index]) * fraction;
}

void FindBarViewController::build() {
    revealer_ = GObjectPtr<GtkWidget>::adopt(gtk_revealer_new());
    GtkRevealer* revealer = GTK_REVEALER(revealer_.get());
    gtk_revealer_set_transition_type(revealer, GTK_REVEALER_TRANSITION_TYPE_SLIDE_DOWN);
    gtk_revealer_set_reveal_child(revealer, FALSE);

    // A search bar under the header: the header's colours and a shade line
    // under it, as libadwaita draws its own search bars.
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    ReaderWidgetStyle::setWidgetCss(
        column, "box { background-color: @headerbar_bg_color; color: @headerbar_fg_color; }");
    gtk_revealer_set_child(revealer, column);

    GtkWidget* row = GTK_WIDGET(g_object_new(GTK_TYPE_BOX, "orientation", GTK_ORIENTATION_HORIZONTAL,
                                             "spacing", 8, "accessible-role",
                                             GTK_ACCESSIBLE_ROLE_GROUP, nullptr));
    gtk_widget_set_name(row, "Orvik.findBar");
    gtk_accessible_update_property(GTK_ACCESSIBLE(row), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("a11y.findBar.label").c_str(), -1);
    // The hairline under the row is part of the strip's height.
    gtk_widget_set_size_request(row, -1, ReaderWidgetStyle::stripHeight - 1);
    gtk_widget_set_margin_start(row, 12 - kFieldRestMargin);
    gtk_widget_set_margin_end(row, 8);
    gtk_box_append(GTK_BOX(column), row);
    GtkWidget* shade = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
    ReaderWidgetStyle::setWidgetCss(shade, "separator { background-color: @headerbar_shade_color; }");
    gtk_box_append(GTK_BOX(column), shade);

    field_ = gtk_search_entry_new();
    gtk_widget_set_name(field_, "Orvik.findField");
    gtk_search_entry_set_search_delay(GTK_SEARCH_ENTRY(field_), 0);
    g_object_set(field_, "placeholder-text", L10n::text("find.placeholder").c_str(), nullptr);
    gtk_accessible_update_property(GTK_ACCESSIBLE(field_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("a11y.findBar.field").c_str(), -1);
    gtk_widget_set_size_request(field_, 220, -1);
    gtk_widget_set_valign(field_, GTK_ALIGN_CENTER);
    ReaderWidgetStyle::setStripControl(field_);
    setFieldOffset(field_, 0);
    gtk_box_append(GTK_BOX(row), field_);

    count_ = gtk_label_new("0 / 0");
    gtk_widget_set_name(count_, "Orvik.findCount");
    gtk_widget_add_css_class(count_, "numeric");
    // Dimmed only as far as a text stays readable (GTK's dim-label is not).
    ReaderWidgetStyle::setWidgetCss(count_, "label:not(.error) { color: alpha(currentColor, 0.75); }");
    gtk_label_set_xalign(GTK_LABEL(count_), 1.0f);
    gtk_widget_set_size_request(count_, 56, -1);
    gtk_box_append(GTK_BOX(row), count_);

    GtkWidget* stepper = GTK_WIDGET(g_object_new(GTK_TYPE_BOX, "orientation",
                                                 GTK_ORIENTATION_HORIZONTAL, "accessible-role",
                                                 GTK_ACCESSIBLE_ROLE_GROUP, nullptr));
    gtk_widget_add_css_class(stepper, "linked");
    gtk_widget_set_valign(stepper, GTK_ALIGN_CENTER);
    gtk_accessible_update_property(GTK_ACCESSIBLE(stepper), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   L10n::text("a11y.findBar.stepper").c_str(), -1);
    previous_ = iconButton("go-up-symbolic", "Orvik.findPrevious", "find.previous",
                           "find.previous.tooltip");
    next_ = iconButton("go-down-symbolic", "Orvik.findNext", "find.next", "find.next.tooltip");
    gtk_box_append(GTK_BOX(stepper), previous_);
    gtk_box_append(GTK_BOX(stepper), next_);
    gtk_box_append(GTK_BOX(row), stepper);

    done_ = gtk_button_new_with_label(L10n::text("find.done").c_str());
    gtk_widget_set_name(done_, "Orvik.findDone");
    Tooltips::set(done_, L10n::text("find.done.tooltip"));
    gtk_widget_set_valign(done_, GTK_ALIGN_CENTER);
    ReaderWidgetStyle::setStripControl(done_);
    gtk_box_append(GTK_BOX(row), done_);

    searchChanged_ = SignalConnection::connect(
        field_, "search-changed", G_CALLBACK(+[](GtkSearchEntry*, gpointer self) {
            static_cast<FindBarViewController*>(self)->searchChanged();
        }),
        this);
    activate_ = SignalConnection::connect(
        field_, "activate", G_CALLBACK(+[](GtkSearchEntry*, gpointer self) {
            auto* view = static_cast<FindBarViewController*>(self);
            view->fire(view->onNext);
        }),
        this);
    nextMatch_ = SignalConnection::connect(
        field_, "next-match", G_CALLBACK(+[](GtkSearchEntry*, gpointer self) {
            auto* view = static_cast<FindBarViewController*>(self);
            view->fire(view->onNext);
        }),
        this);
    previousMatch_ = SignalConnection::connect(
        field_, "previous-match", G_CALLBACK(+[](GtkSearchEntry*, gpointer self) {
            auto* view = static_cast<FindBarViewController*>(self);
            view->fire(view->onPrevious);
        }),
        this);
    stopSearch_ = SignalConnection::connect(
        field_, "stop-search", G_CALLBACK(+[](GtkSearchEntry*, gpointer self) {
            auto* view = static_cast<FindBarViewController*>(self);
            view->fire(view->onClose);
        }),
        this);
    previousClicked_ = SignalConnection::connect(
        previous_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
            auto* view = static_cast<FindBarViewController*>(self);
            view->fire(view->onPrevious);
        }),
        this);
    nextClicked_ = SignalConnection::connect(
        next_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
            auto* view = static_cast<FindBarViewController*>(self);
            view->fire(view->onNext);
        }),
        this);
    doneClicked_ = SignalConnection::connect(
        done_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
            auto* view = static_cast<FindBarViewController*>(self);
            view->fire(view->onClose);
        }),
        this);

    // Shift+Enter goes backwards; it is taken before the field turns it into
    // "activate". The controller lives as long as the field.
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    shiftEnter_ = SignalConnection::connect(keys, "key-pressed",
                     G_CALLBACK(+[](GtkEventControllerKey*, guint keyval, guint, GdkModifierType state,
                                    gpointer self) -> gboolean {
                         const bool enter = keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter ||
                                            keyval == GDK_KEY_ISO_Enter;
                         if (!enter || (state & GDK_SHIFT_MASK) == 0) return FALSE;
                         auto* view = static_cast<FindBarViewController*>(self);
                         view->fire(view->onPrevious);
                         return TRUE;
                     }),
                     this);
    gtk_widget_add_controller(field_, keys);

    AdwAnimationTarget* target =
        adw_callback_animation_target_new(&onShakeValue, g_object_ref(field_), g_object_unref);
    shake_ = GObjectPtr<AdwAnimation>::adopt(
        adw_timed_animation_new(field_, 0.0, 1.0, kShakeMilliseconds, target));
    adw_timed_animation_set_easing(ADW_TIMED_ANIMATION(shake_.get()), ADW_EASE_IN_OUT_CUBIC);
}

void FindBarViewController::fire(const std::function<void()>& callback) {
    // A copy: the callback may replace the view's callbacks while it runs.
    if (const auto run = callback) run();
}

void FindBarViewController::searchChanged() {
    if (settingText_) return;  // render() replacing the text passes through ""
    std::string text = gtk_editable_get_text(GTK_EDITABLE(field_));
    if (text == known_) return;  // the text render() put there, or nothing new
    known_ = text;
    if (const auto run = onQueryChange) run(std::move(text));
}

void FindBarViewController::render(const FindBarState& state) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    // The query changed from elsewhere (a selection to search for): show it.
    // A field whose text the controller has not heard of yet holds the
    // user's latest typing, which an answer to older typing never replaces.
    const std::string current = gtk_editable_get_text(GTK_EDITABLE(field_));
    if (current == known_ && current != state.query) {
        known_ = state.query;
        settingText_ = true;
        gtk_editable_set_text(GTK_EDITABLE(field_), state.query.c_str());
        settingText_ = false;
        gtk_editable_set_position(GTK_EDITABLE(field_), -1);
    }
    gtk_label_set_text(GTK_LABEL(count_), state.countText().c_str());
    gtk_label_set_width_chars(GTK_LABEL(count_), state.countWidthChars());
    if (state.showsNoMatch()) {
        gtk_widget_add_css_class(count_, "error");
    } else {
        gtk_widget_remove_css_class(count_, "error");
    }
    gtk_accessible_update_property(GTK_ACCESSIBLE(count_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   state.countAccessibilityLabel().c_str(), -1);
    const bool canStep = state.hasActiveMatch();
    gtk_widget_set_sensitive(previous_, canStep);
    gtk_widget_set_sensitive(next_, canStep);
}

void FindBarViewController::setRevealed(bool revealed) {
    gtk_revealer_set_reveal_child(GTK_REVEALER(revealer_.get()), revealed);
}

void FindBarViewController::focusField() {
    gtk_widget_grab_focus(field_);
    gtk_editable_select_region(GTK_EDITABLE(field_), 0, -1);
}

void FindBarViewController::shake() {
    if (!animationsEnabled(field_)) return;
    adw_animation_reset(shake_.get());
    adw_animation_play(shake_.get());
}

}  // namespace larkspin
