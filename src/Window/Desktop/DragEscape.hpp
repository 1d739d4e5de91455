#pragma once

#include "Platform/Glib/GObjectPtr.hpp"

typedef struct _GdkDrag GdkDrag;

namespace larkspin {

// Cancels a drag when Escape is pressed, as GDK means to. On X11 GDK grabs
// Escape for its drags on the root window, where GTK (seen with Debian 12's
// GTK 4.8.3) hands the key to no one: the drag would go on. While it lives,
// this watches the display's events for that key and then cancels the drag
// (its "cancel", the user's). Other displays are left alone. Main thread.
class DragEscape {
public:
    explicit DragEscape(GdkDrag* drag);
    ~DragEscape();
    DragEscape(const DragEscape&) = delete;
    DragEscape& operator=(const DragEscape&) = delete;

private:
    static gboolean onEvent(GObject* display, const void* event, gpointer self);

    GObjectPtr<GdkDrag> drag_;
    GObjectPtr<GObject> display_;
    unsigned long handler_ = 0;
    unsigned escapeKey_ = 0;
    unsigned long root_ = 0;
    int inputOpcode_ = -1;
};

}  // namespace larkspin
