#pragma once
// A process-wide choice for the programs (not the libraries): frame-sized
// buffers stay in the heap.

#include <cstddef>

namespace quarvel::gdi {

// Capture and video writing make and drop megabyte-sized pictures by the
// hundred; handing each back to the kernel and faulting it in again costs
// more than the work on it. Call once at start-up, before threads start.
void KeepFrameBuffersInHeap();

// For a process that converts one movie and ends: every thread takes its
// memory from the one heap, and `bytes` of it are reserved at once (address
// space only) and marked for huge pages where the system allows them, so
// that the hundreds of megabytes of pictures a GIF build holds fault in
// 2 MiB at a time, not a page at a time. Freed memory stays in the heap.
// Call before threads start; nothing happens where the heap cannot grow.
// Returns the bytes reserved (0: none).
std::size_t ReserveFrameHeap(std::size_t bytes);

}  // namespace quarvel::gdi
