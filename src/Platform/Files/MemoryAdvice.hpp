#pragma once

#include <cstddef>

namespace larkspin::MemoryAdvice {

// Asks for transparent huge pages on the 2 MiB-aligned middle of a large
// buffer that is about to be written once from start to end (honoured when
// THP is "madvise" or "always"; otherwise nothing happens). Filling fresh
// memory costs one page fault per 4 KiB, which for a buffer of tens of MiB
// can take as long as hashing it; with 2 MiB pages it is a handful. Buffers
// under 4 MiB are left alone.
void adviseHugePages(void* data, std::size_t size);

}  // namespace larkspin::MemoryAdvice
