#include "Window/Widgets/KeyboardFocusRing.hpp"

#include <gtk/gtk.h>

#include <stdexcept>

namespace larkspin {

namespace {

bool movesFocus(guint keyval) {
    switch (keyval) {
        case GDK_KEY_Tab:
        case GDK_KEY_ISO_Left_Tab:
        case GDK_KEY_KP_Tab:
        case GDK_KEY_F6:
            return true;
        default:
            return false;
    }
}

bool isModifier(guint keyval) {
    return (keyval >= GDK_KEY_Shift_L && keyval <= GDK_KEY_Hyper_R) || keyval == GDK_KEY_ISO_Level3_Shift ||
           keyval == GDK_KEY_ISO_Level5_Shift;
}

}  // namespace

KeyboardFocusRing::KeyboardFocusRing(GtkWindow* window) : window_(window) {
    if (!window_) throw std::invalid_argument("keyboard focus ring: the window");
    g_weak_ref_init(&marked_, nullptr);
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    key_ = SignalConnection::connect(keys, "key-pressed", G_CALLBACK(keyPressed), this);
    gtk_widget_add_controller(GTK_WIDGET(window_), keys);
    // Seen, never taken: no gesture of the window's (a tab's drag) is kept
    // from a press.
    GtkEventController* pointer = gtk_event_controller_legacy_new();
    gtk_event_controller_set_propagation_phase(pointer, GTK_PHASE_CAPTURE);
    click_ = SignalConnection::connect(pointer, "event", G_CALLBACK(pointerEvent), this);
    gtk_widget_add_controller(GTK_WIDGET(window_), pointer);
    focus_ = SignalConnection::connect(window_, "notify::focus-widget", G_CALLBACK(focusChanged), this);
}

KeyboardFocusRing::~KeyboardFocusRing() {
    key_.disconnect();
    click_.disconnect();
    focus_.disconnect();
    g_weak_ref_clear(&marked_);
}

void KeyboardFocusRing::unmark() {
    if (auto* marked = static_cast<GtkWidget*>(g_weak_ref_get(&marked_))) {
        gtk_widget_remove_css_class(marked, styleClass);
        g_object_unref(marked);
    }
    g_weak_ref_set(&marked_, nullptr);
}

gboolean KeyboardFocusRing::keyPressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType, gpointer data) {
    auto* self = static_cast<KeyboardFocusRing*>(data);
    if (movesFocus(keyval)) {
        self->moving_ = true;
    } else if (!isModifier(keyval)) {  // Shift of Shift+Tab keeps it
        self->moving_ = false;
        self->unmark();
    }
    return GDK_EVENT_PROPAGATE;
}

gboolean KeyboardFocusRing::pointerEvent(GtkEventControllerLegacy*, GdkEvent* event, gpointer data) {
    const GdkEventType type = gdk_event_get_event_type(event);
    if (type == GDK_BUTTON_PRESS || type == GDK_TOUCH_BEGIN) {
        auto* self = static_cast<KeyboardFocusRing*>(data);
        self->moving_ = false;
        self->unmark();
    }
    return GDK_EVENT_PROPAGATE;
}

void KeyboardFocusRing::focusChanged(GObject*, GParamSpec*, gpointer data) {
    auto* self = static_cast<KeyboardFocusRing*>(data);
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(self->window_));
    self->unmark();
    if (!self->moving_ || !focus) return;
    gtk_widget_add_css_class(focus, styleClass);
    g_weak_ref_set(&self->marked_, focus);
}

}  // namespace larkspin
