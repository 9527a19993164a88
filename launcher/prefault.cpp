// Pre-faulting the object arenas.
//
// A run of the launcher writes to most of two object arenas of 1 MiB. Each
// first write to a page costs a fault, 10 to 18 us in a virtual machine;
// asking the kernel to map a range at once costs one system call for the
// lot.
#include "prefault.hpp"

#include <Python.h>
#include <sys/mman.h>

#include <cstddef>

// Linux 5.14; an older kernel refuses it and the pages fault in as usual.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace launcher {

namespace {

// Arenas handed out so far.
int arenas_made = 0;

// pymalloc carves an arena into pools front to back, so the front of an
// arena is written before its tail. The interpreter's start-up alone fills
// the first arena, and a helper's run more than half of the second. So the
// first arena is mapped in whole and each later one by its first half: in the
// helper's runs no page is made resident that the run would not have written
// anyway, and the peak resident size stays as it was.
void* arena_alloc(void*, std::size_t size)
{
    void* arena = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (arena == MAP_FAILED) {
        return nullptr;
    }
    madvise(arena, arenas_made++ == 0 ? size : size / 2, MADV_POPULATE_WRITE);
    return arena;
}

void arena_free(void*, void* arena, std::size_t size)
{
    munmap(arena, size);
}

} // namespace

void prefault_object_arenas()
{
    PyObjectArenaAllocator allocator{nullptr, arena_alloc, arena_free};
    PyObject_SetArenaAllocator(&allocator);
}

} // namespace launcher
