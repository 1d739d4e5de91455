#pragma once

typedef struct _GdkDisplay GdkDisplay;

namespace larkspin::ApplicationIcon {

// Makes the program's icon known to `display`'s icon theme when no theme
// has it (the program run from its build tree: `AppIcon`). Reads the disk:
// at startup only. Main thread.
void makeKnown(GdkDisplay* display);

}  // namespace larkspin::ApplicationIcon
