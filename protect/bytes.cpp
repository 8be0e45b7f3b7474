// SPDX-License-Identifier: MIT
// Large pages for large byte strings.
#include "protect/bytes.h"

#include <sys/mman.h>

namespace jiajiemi {

void PreferLargePages(void* block, std::size_t size) {
    constexpr std::uintptr_t Page = LargePage;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + Page - 1) & ~(Page - 1);
    const std::uintptr_t end = (start + size) & ~(Page - 1);
    if (first < end) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace jiajiemi
