#pragma once
// While a run lasts, freed memory stays with the process for the next image.
// A fresh multi-megabyte buffer (a decoded photo, libjpeg's coefficients, an
// encoder's rows) costs the kernel a page fault and a cleared page every
// 4 KiB; on a batch of photos that was a fifth of the time. With every
// allocation served from the heap and nothing trimmed, each worker's next
// image reuses the pages of its last one. When the last run ends the heap's
// free pages go back to the system, so a window left open does not keep the
// largest batch's memory.

namespace pv::app {

class HeapKeptForRun {
 public:
  HeapKeptForRun();
  ~HeapKeptForRun();
  HeapKeptForRun(const HeapKeptForRun&) = delete;
  HeapKeptForRun& operator=(const HeapKeptForRun&) = delete;
};

}  // namespace pv::app
