// SPDX-License-Identifier: MIT
// Large pages for large byte strings, and random bytes.
#include "protect/bytes.h"

#include <cerrno>
#include <sys/mman.h>
#include <sys/random.h>

namespace jiajiemi {

void PreferLargePages(void* block, std::size_t size) {
    const WholePages pages = WholePagesInside(block, size, LargePage);
    if (pages.first < pages.end)
        ::madvise(reinterpret_cast<void*>(pages.first), pages.end - pages.first, MADV_HUGEPAGE);
}

bool FillRandom(std::span<std::uint8_t> bytes) {
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += std::size_t(n);
    }
    return true;
}

}  // namespace jiajiemi
