// The allocation counter: this program's own malloc, calloc, realloc,
// posix_memalign, aligned_alloc and memalign, each passing straight on to
// glibc's allocator (its __libc_ entry points), so that validation sees the
// allocations a plugin makes during run even when the allocator serves them
// without asking the kernel. free and the rest are glibc's own. Being part
// of the program, they replace the allocator for every library the plugins
// load too. What it cannot see: memory taken by other means (the kernel's
// calls are watched on their own, lv2_validate.cpp) and allocators a plugin
// carries inside itself.
#include "platform/lv2/malloc_count.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {
// Static TLS of the program itself: reading it never allocates.
thread_local int64_t* counter __attribute__((tls_model("initial-exec"))) = nullptr;

inline void count() {
    if (counter != nullptr) {
        *counter += 1;
    }
}
} // namespace

void malloc_count_into(int64_t* into) {
    counter = into;
}

bool malloc_count_works() {
    int64_t calls = 0;
    void* (*volatile allocate)(size_t) = malloc; // called, not optimised away
    malloc_count_into(&calls);
    void* block = allocate(16);
    malloc_count_into(nullptr);
    free(block);
    return calls == 1;
}

extern "C" {
void* malloc(size_t size) noexcept {
    count();
    return __libc_malloc(size);
}

void* calloc(size_t count_of, size_t size) noexcept {
    count();
    return __libc_calloc(count_of, size);
}

void* realloc(void* block, size_t size) noexcept {
    count();
    return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size) noexcept {
    count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** block, size_t alignment, size_t size) noexcept {
    count();
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0 || alignment == 0) {
        return EINVAL;
    }
    void* memory = __libc_memalign(alignment, size);
    if (memory == nullptr) {
        return ENOMEM;
    }
    *block = memory;
    return 0;
}
}
