#pragma once

#include <string>

typedef struct _GtkApplication GtkApplication;

namespace larkspin {

// A message with an OK button, transient for the application's active
// window and a window of the application (it keeps the program alive while
// it shows); its title is logged. Main thread.
void showShellMessage(GtkApplication* application, const std::string& title, const std::string& message);

}  // namespace larkspin
