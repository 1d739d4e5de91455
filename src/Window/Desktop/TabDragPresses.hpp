#pragma once

namespace larkspin {

// Lets go of the press a tab's drag began with, once the drag has ended. On
// X11 GDK grabs the pointer for a drag as it begins, and the button's
// release goes to the drag; GTK tells the widgets that saw the press nothing
// of it, neither a release nor a broken grab (seen with Debian 12's GTK 4.8.3
// and libadwaita 1.2.2). Their gestures keep holding that press, the tab
// bar's as refused (it handed the press over to the drag), and take the next
// press for the same one: a click on a tab, or the start of the next drag,
// does nothing, and only its release lets the gestures go. So a turn after
// any end of a tab's drag (dropped or cancelled), every gesture of the tab
// bar it began in, and of that bar's ancestors up to its window, that still
// holds a press is reset. A GTK that tells its widgets leaves nothing held,
// and nothing is reset. Other drags are left alone. Main thread.
namespace TabDragPresses {

// Watches the ends of the process's tab drags from now on, for as long as
// the process lives (signal emission hooks); later calls change nothing.
void install();

}  // namespace TabDragPresses

}  // namespace larkspin
