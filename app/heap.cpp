#include "app/heap.h"

#include <malloc.h>

#include <mutex>

namespace pv::app {

namespace {

std::mutex gMutex;
int gRuns = 0;  // runs in progress (a window's job and a preview may overlap)

// glibc's defaults, restored when no run is left.
constexpr int kDefaultMmapMax = 65536;
constexpr int kDefaultTrimThreshold = 128 * 1024;

}  // namespace

void shareOneHeap() { mallopt(M_ARENA_MAX, 1); }

HeapKeptForRun::HeapKeptForRun() {
  std::lock_guard lock(gMutex);
  if (gRuns++ > 0) return;
  // No allocation is mapped on its own (glibc still maps when the heap cannot
  // grow), and free pages at the heap's top are not returned.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

HeapKeptForRun::~HeapKeptForRun() {
  std::lock_guard lock(gMutex);
  if (--gRuns > 0) return;
  mallopt(M_MMAP_MAX, kDefaultMmapMax);
  mallopt(M_TRIM_THRESHOLD, kDefaultTrimThreshold);
  malloc_trim(0);
}

}  // namespace pv::app
