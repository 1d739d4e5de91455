#pragma once

#include <sys/resource.h>

namespace larkspin {

// The process's limit on open descriptors. Each open document holds one (its
// file's O_PATH descriptor) and WebKit ends the program when it cannot open
// one, so the usual soft limit of 1,024 would let a large restored session
// stop every launch: the soft limit is raised to the hard one at start.
namespace DescriptorLimit {

// Raises the soft limit to the hard one; returns the soft limit in force
// afterwards (the old one when it could not be raised).
rlim_t raiseToHardLimit();

}  // namespace DescriptorLimit

}  // namespace larkspin
