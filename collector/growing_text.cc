#include "collector/growing_text.h"

#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The whole pages in [data, data + size), to `advice`.
void advise(void* data, size_t size, int advice) {
  auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t start = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  if (end > start) {
    madvise(reinterpret_cast<void*>(start), end - start, advice);
  }
}

}  // namespace

void prefer_huge_pages(void* data, size_t size) { advise(data, size, MADV_HUGEPAGE); }

void prefault(void* data, size_t size) {
  // Smaller buffers come from malloc's heap, most of it faulted in already.
  constexpr size_t kHugePage = 2 << 20;
  if (size < kHugePage) {
    return;
  }
  prefer_huge_pages(data, size);
#ifdef MADV_POPULATE_WRITE
  advise(data, size, MADV_POPULATE_WRITE);
#endif
}
