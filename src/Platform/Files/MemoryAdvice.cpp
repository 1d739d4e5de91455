#include "Platform/Files/MemoryAdvice.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace larkspin::MemoryAdvice {

void adviseHugePages(void* data, std::size_t size) {
    constexpr std::uintptr_t hugePage = 2 * 1024 * 1024;
    if (data == nullptr || size < 2 * hugePage) return;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (start + hugePage - 1) & ~(hugePage - 1);
    const std::uintptr_t end = (start + size) & ~(hugePage - 1);
    // Advice only: a kernel without THP refuses it, and that changes nothing.
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace larkspin::MemoryAdvice
