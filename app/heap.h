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

// Every thread allocates from the one heap. With glibc's arena per thread,
// each thread (the listing's workers, the conversion's, OpenCV's pool, the
// band compressors) kept the free pages of its own largest image, so a run
// held the sum of their peaks instead of the largest moment (8 photos to
// TIFF on two workers peaked at 247 MiB that way, 201 with one heap). The
// allocations that matter are few and large, so the shared lock costs
// nothing measurable.
// glibc fixes the limit when the second thread first allocates: call this
// first thing in main.
void shareOneHeap();

class HeapKeptForRun {
 public:
  HeapKeptForRun();
  ~HeapKeptForRun();
  HeapKeptForRun(const HeapKeptForRun&) = delete;
  HeapKeptForRun& operator=(const HeapKeptForRun&) = delete;
};

}  // namespace pv::app
