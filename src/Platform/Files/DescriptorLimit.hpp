#pragma once

#include <sys/resource.h>

namespace larkspin {

// The process's limit on open descriptors. Each document watching its file
// holds one (the file's O_PATH descriptor) and GLib ends the program when it
// cannot open one: the soft limit is raised to the hard one at start, and
// the document controller lets only as many documents watch as the limit
// leaves room for (`FileWatchBudget`).
namespace DescriptorLimit {

// Raises the soft limit to the hard one; returns the soft limit in force
// afterwards (the old one when it could not be raised).
rlim_t raiseToHardLimit();
// The soft limit in force now.
rlim_t current();

}  // namespace DescriptorLimit

}  // namespace larkspin
