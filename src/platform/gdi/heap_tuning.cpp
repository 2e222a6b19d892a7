#include "platform/gdi/heap_tuning.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>

namespace quarvel::gdi {

void KeepFrameBuffersInHeap() {
  mallopt(M_MMAP_THRESHOLD, 16 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

std::size_t ReserveFrameHeap(std::size_t bytes) {
  // One arena: the threads of the build free each other's pictures, and
  // each arena of its own would grow (and fault in) a heap of its own.
  mallopt(M_ARENA_MAX, 1);
  if (bytes == 0) return 0;
  // Never trimmed: the reserve stays for the pictures to come.
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  // The reserve itself from the heap, not a map of its own that freeing unmaps.
  mallopt(M_MMAP_MAX, 0);
  void* const before = sbrk(0);
  void* block = std::malloc(bytes);
  mallopt(M_MMAP_MAX, 65536);
  if (block == nullptr) return 0;
  void* const top = sbrk(0);
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  std::free(block);
  // The part of the reserve that lies in the heap's last piece; the rest of
  // the heap (its first pages, in use already) keeps small pages.
  constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
  const std::uintptr_t from = (start + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(top) & ~(kHuge - 1);
  // A heap that could not grow in place took the block elsewhere: nothing to advise.
  const auto end = start + bytes;
  if (top == reinterpret_cast<void*>(-1) || end > reinterpret_cast<std::uintptr_t>(top) ||
      end <= reinterpret_cast<std::uintptr_t>(before) || to <= from)
    return 0;
#ifdef MADV_HUGEPAGE
  // Refused where huge pages are off: the reserve then serves with small pages.
  madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
  return bytes;
}

}  // namespace quarvel::gdi
