#pragma once

#include <string>

typedef struct _GtkApplication GtkApplication;
typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// A message with an OK button, transient for the application's active
// window and a window of the application (it keeps the program alive while
// it shows); its title is logged, with whether it has a window under it.
// Main thread.
void showShellMessage(GtkApplication* application, const std::string& title, const std::string& message);

// The same message over `parent` (a window of the application, when it is
// one).
void showShellMessage(GtkWindow* parent, const std::string& title, const std::string& message);

}  // namespace larkspin
