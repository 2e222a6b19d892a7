#include "platform/gdi/heap_tuning.h"

#include <malloc.h>

namespace quarvel::gdi {

void KeepFrameBuffersInHeap() {
  mallopt(M_MMAP_THRESHOLD, 16 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

}  // namespace quarvel::gdi
