#include "base/Heap.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tarvine::Heap {

#if defined(__GLIBC__)

namespace {
// glibc's defaults: blocks from 128 KiB on are mapped on their own (and unmapped when freed),
// and a heap whose free top exceeds 128 KiB gives it back.
constexpr int mappedBlockThreshold = 128 * 1024;
constexpr int freeTopThreshold = 128 * 1024;
} // namespace

void keepFreedMemoryReturnable() {
    // Setting them turns off glibc's dynamic adjustment.
    mallopt(M_MMAP_THRESHOLD, mappedBlockThreshold);
    mallopt(M_TRIM_THRESHOLD, freeTopThreshold);
}

void returnFreedMemory() {
    malloc_trim(0);
}

#else

void keepFreedMemoryReturnable() {}
void returnFreedMemory() {}

#endif

} // namespace tarvine::Heap
