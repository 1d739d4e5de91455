#pragma once

#include "Platform/Glib/GObjectPtr.hpp"

typedef struct _GdkDrag GdkDrag;
typedef struct _GtkWidget GtkWidget;

namespace larkspin {

// Tells which drag a tab leaves its view for, as the drag begins. The tab
// bar begins a tab's drag itself and says so nowhere (seen with Debian 12's
// libadwaita 1.2.2 on GTK 4.8.3): it has no signal for it, and its view's
// "page-detached", emitted as the drag begins, names the tab, not the drag.
// Heard only once it passed over one of the program's windows, a drag
// pulled briskly off the window's edge would never be known. So each drag
// GDK makes carrying a tab is noted here as it is made (the drag class's
// `constructed` step, widened once for the process), weakly, on the root
// widget of the tab's page, until it is claimed: a drag whose begin fails is
// gone at once. Main thread.
namespace TabDragStarts {

// Notes the drags made from now on; later calls change nothing.
void install();

// The drag made for the tab whose page's root widget is `child`, alive and
// not claimed yet, or none (the tab left its view for another reason). It
// is forgotten here.
GObjectPtr<GdkDrag> claim(GtkWidget* child);

// The root widget of the tab page `drag` carries, or null (not a tab's).
GtkWidget* draggedChild(GdkDrag* drag);

}  // namespace TabDragStarts

}  // namespace larkspin
