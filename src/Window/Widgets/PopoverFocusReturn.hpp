#pragma once

#include <glib-object.h>

#include <functional>
#include <memory>

#include "Platform/Glib/SignalConnection.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// Gives a window its keyboard focus back when a popover of it closes.
//
// The widgets of a popover belong to its window's focus chain: GTK moves the
// window's focus onto each menu item the pointer passes over. When the
// popover closes on the item chosen, the focus stays on that item, now in a
// surface that is not shown, and GTK hands a key press only to the
// controllers of the focus widget's own surface: every shortcut of the
// window would go nowhere until something else takes the focus. Once a
// popover closes (a turn later, so that the item's action may place the
// focus first), a focus still left inside it goes back to the widget of the
// window that had it before, or to `fallback` (the selected page) when that
// one is gone or hidden. Main thread.
class PopoverFocusReturn {
public:
    // `fallback` is required: the widget that takes the focus when the one
    // that had it before is no longer there (null when there is none).
    PopoverFocusReturn(GtkWindow* window, std::function<GtkWidget*()> fallback);
    ~PopoverFocusReturn();
    PopoverFocusReturn(const PopoverFocusReturn&) = delete;
    PopoverFocusReturn& operator=(const PopoverFocusReturn&) = delete;

private:
    static void focusChanged(GObject* window, GParamSpec*, gpointer self);
    static void popoverHidden(GtkWidget* popover, gpointer self);
    void restore();
    // Whether `widget` can take the focus in the window's own surface.
    bool canTakeFocus(GtkWidget* widget) const;

    GtkWindow* window_;
    std::function<GtkWidget*()> fallback_;
    GWeakRef before_;        // the last focus widget in the window's own surface
    GWeakRef popover_;       // the popover the focus went into
    SignalConnection focus_;
    SignalConnection hidden_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace larkspin
