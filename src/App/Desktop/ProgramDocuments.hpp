#pragma once

#include <gtk/gtk.h>

#include "App/Desktop/LarkspinApplication.hpp"

namespace larkspin {

class ApplicationServices;

// The program's documents over its services: the document controller with
// the desktop's link opener, appearance feed and file manager, the shell's
// view of it, and where a page goes. `src/main.cpp` hands this to the
// application; the program's own tests build the same.
LarkspinApplication::Documents programDocuments(ApplicationServices& services, GtkApplication* application);

}  // namespace larkspin
