#pragma once

namespace tarvine::Heap {

// The C library's allocator keeps freed memory for reuse. A speech session frees about
// 100 MiB per engine when it ends; these two calls make sure that memory goes back to the
// system instead of staying resident in an idle process.

// Fixes the allocator's thresholds at their defaults: after a large block is freed, glibc
// would otherwise raise them (up to 32 MiB for mapped blocks, 64 MiB for the free top of a
// heap), and every thread's heap would then keep that much resident. Call once at start-up,
// before other threads run.
void keepFreedMemoryReturnable();

// Returns the free pages inside every heap to the system. Takes milliseconds after a large
// release: call it off the main loop.
void returnFreedMemory();

} // namespace tarvine::Heap
