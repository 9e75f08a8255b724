// Counts the heap allocations made by libTarvik.so's own code (see counting_allocator.cpp).
#pragma once

#include <stdint.h>

// Finds the library's code in the process; false when it can't, and nothing is counted then.
bool startCountingLibraryAllocations();
// Allocations made by the library since the process started.
uint64_t libraryAllocationCount();
