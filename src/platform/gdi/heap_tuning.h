#pragma once
// A process-wide choice for the programs (not the libraries): frame-sized
// buffers stay in the heap.

namespace quarvel::gdi {

// Capture and video writing make and drop megabyte-sized pictures by the
// hundred; handing each back to the kernel and faulting it in again costs
// more than the work on it. Call once at start-up, before threads start.
void KeepFrameBuffersInHeap();

}  // namespace quarvel::gdi
