#include "os/memory_advice.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace sweeprun {

void adviseLargePages(void* begin, size_t bytes) {
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0 || bytes < kLargePage) return;
  // Whole pages only: the advice applies to the pages it names, and the
  // pages at either end may hold other blocks.
  const uintptr_t mask = static_cast<uintptr_t>(page) - 1;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(begin) + mask) & ~mask;
  const uintptr_t end = (reinterpret_cast<uintptr_t>(begin) + bytes) & ~mask;
  if (end <= first || end - first < kLargePage) return;
  ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace sweeprun
