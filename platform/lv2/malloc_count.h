// Counts the malloc-family calls of one thread while it asks
// (malloc_count.cpp). Sanitizer builds, whose allocator is the sanitizer's,
// define ZEM_NO_MALLOC_COUNT and have no counter.
#pragma once

#include <cstdint>

// From now on, each malloc, calloc, realloc, posix_memalign, aligned_alloc
// or memalign call of the calling thread adds one to *counter; nullptr
// stops counting.
void malloc_count_into(int64_t* counter);

// Whether the program's malloc is the one called: not under a tool that
// replaces the allocator itself (valgrind does).
bool malloc_count_works();
