// A counting allocator for the benchmark binary: every allocation still comes from the C library,
// and those whose caller is code of libTarvik.so itself are counted. The virtual board allocates
// freely (it is ordinary C++); what is counted is the library's own heap use, which should be the
// buffers it needs to hand a driver and nothing else.
#include "counting_allocator.h"

#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <new>

#include "Tarvik.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<uint64_t> libraryAllocations{0};
// The executable segments of libTarvik.so, found once at start; empty until then.
uintptr_t codeStart = 0;
uintptr_t codeEnd = 0;

inline void countIfLibrary(const void* caller) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(caller);
    if (address >= codeStart && address < codeEnd)
        libraryAllocations.fetch_add(1, std::memory_order_relaxed);
}

int findLibraryCode(struct dl_phdr_info* info, size_t, void* base) {
    if (info->dlpi_addr != reinterpret_cast<uintptr_t>(base)) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
        const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        const uintptr_t end = start + segment.p_memsz;
        if (codeStart == 0 || start < codeStart) codeStart = start;
        if (end > codeEnd) codeEnd = end;
    }
    return 1;
}

}  // namespace

bool startCountingLibraryAllocations() {
    Dl_info info;
    // Any export names the library's object; its load address identifies its segments.
    if (dladdr(reinterpret_cast<void*>(&GPIOSetPin), &info) == 0 || info.dli_fbase == nullptr)
        return false;
    dl_iterate_phdr(findLibraryCode, info.dli_fbase);
    return codeEnd > codeStart;
}

uint64_t libraryAllocationCount() { return libraryAllocations.load(std::memory_order_relaxed); }

extern "C" {

void* malloc(size_t size) {
    countIfLibrary(__builtin_return_address(0));
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    countIfLibrary(__builtin_return_address(0));
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    countIfLibrary(__builtin_return_address(0));
    return __libc_realloc(pointer, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    countIfLibrary(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}
void* memalign(size_t alignment, size_t size) {
    countIfLibrary(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** result, size_t alignment, size_t size) {
    countIfLibrary(__builtin_return_address(0));
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) return ENOMEM;
    *result = pointer;
    return 0;
}
void free(void* pointer) { __libc_free(pointer); }

}  // extern "C"

// operator new as well, should the library ever use it: counted at its caller.
namespace {
void* allocateOrThrow(size_t size, const void* caller) {
    countIfLibrary(caller);
    void* pointer = __libc_malloc(size > 0 ? size : 1);
    if (pointer == nullptr) throw std::bad_alloc();
    return pointer;
}
}  // namespace

void* operator new(size_t size) { return allocateOrThrow(size, __builtin_return_address(0)); }
void* operator new[](size_t size) { return allocateOrThrow(size, __builtin_return_address(0)); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    countIfLibrary(__builtin_return_address(0));
    return __libc_malloc(size > 0 ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    countIfLibrary(__builtin_return_address(0));
    return __libc_malloc(size > 0 ? size : 1);
}
void operator delete(void* pointer) noexcept { __libc_free(pointer); }
void operator delete[](void* pointer) noexcept { __libc_free(pointer); }
void operator delete(void* pointer, size_t) noexcept { __libc_free(pointer); }
void operator delete[](void* pointer, size_t) noexcept { __libc_free(pointer); }
