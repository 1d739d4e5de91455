#pragma once

#include <gdk/gdk.h>

#include "Platform/Glib/SignalConnection.hpp"

typedef struct _GtkEventControllerKey GtkEventControllerKey;
typedef struct _GtkEventControllerLegacy GtkEventControllerLegacy;
typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// Shows where the keyboard moved the focus, and only then. GTK makes a
// window's focus visible at any key press and keeps it so: reading on with
// Page Down left a ring around the whole page, which read as a selection.
// A widget the focus reaches by Tab or F6 gets the style class
// "larkspin-keyboard-focus" (the page's ring is drawn for it, `WindowStyle`)
// until another key (Page Down, an arrow, Space…) or a click, or until the
// focus leaves it. The keys are seen before the page's web view, which
// takes them. Main thread.
class KeyboardFocusRing {
public:
    static constexpr const char* styleClass = "larkspin-keyboard-focus";

    explicit KeyboardFocusRing(GtkWindow* window);
    ~KeyboardFocusRing();
    KeyboardFocusRing(const KeyboardFocusRing&) = delete;
    KeyboardFocusRing& operator=(const KeyboardFocusRing&) = delete;

private:
    static gboolean keyPressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType, gpointer self);
    static gboolean pointerEvent(GtkEventControllerLegacy*, GdkEvent* event, gpointer self);
    static void focusChanged(GObject* window, GParamSpec*, gpointer self);
    // The widget marked loses its mark.
    void unmark();

    GtkWindow* window_;
    bool moving_ = false;  // the last key pressed moves the focus
    GWeakRef marked_;      // the widget with the style class
    SignalConnection key_, click_, focus_;
};

}  // namespace larkspin
