// Pre-faulting the object arenas.
//
// A run of the launcher writes to most of two object arenas of 1 MiB. Each
// first write to a page costs a fault, 10 to 18 us in a virtual machine;
// asking the kernel to map a whole arena at once costs one system call.
#include "process/prefault.hpp"

#include <Python.h>
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

#if !defined(MADV_POPULATE_WRITE)
#define MADV_POPULATE_WRITE 23  // Linux 5.14
#endif

namespace launcher {

namespace {

// The block that the first arenas come from: one huge page where the kernel
// gives one (transparent huge pages "always" or "madvise"), so that the start
// writes into 2 MiB behind a single page-table entry instead of 512 pages
// faulted one by one; otherwise 512 ordinary pages, populated in the same
// single call. The start-up fills the first arena and a helper's run most of
// the second, which is what the block holds.
constexpr std::size_t first_arenas_size = std::size_t{2} << 20;

// The interpreter takes from the arena allocator both its object arenas
// (1 MiB, or 256 KiB in a build without pymalloc's radix tree) and the
// chunks of its frame stack (16 KiB and up). Only the arenas come from the
// block: a chunk there would leave too little room for the second arena.
constexpr std::size_t smallest_arena = std::size_t{256} << 10;

// What remains of the block: [next, end). It is mapped at the first arena's
// request (an interpreter whose objects come from malloc asks for none);
// arenas are handed out from its start and never handed out twice.
struct FirstArenas {
    bool mapped;
    char* next;
    char* end;
};

FirstArenas first_arenas{false, nullptr, nullptr};

// Maps the block on a 2 MiB boundary, which a huge page needs: twice its size
// is reserved and what lies outside the aligned block is unmapped again.
char* map_first_arenas()
{
    void* reserved = mmap(nullptr, 2 * first_arenas_size, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED) {
        return nullptr;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(reserved);
    const auto aligned = (start + first_arenas_size - 1) & ~(first_arenas_size - 1);
    const std::size_t head = aligned - start;
    if (head != 0) {
        munmap(reserved, head);
    }
    munmap(reinterpret_cast<void*>(aligned + first_arenas_size), first_arenas_size - head);
    void* block = reinterpret_cast<void*>(aligned);
    // Both are requests: without huge pages the block is made of ordinary
    // pages, and a kernel older than MADV_POPULATE_WRITE faults them in as
    // they are written.
    madvise(block, first_arenas_size, MADV_HUGEPAGE);
    madvise(block, first_arenas_size, MADV_POPULATE_WRITE);
    return static_cast<char*>(block);
}

// An object arena from the block while it lasts; then, and for anything
// else, a whole allocation mapped at once.
// What this makes resident beyond what the run writes is the unused tail of
// the last arena, about 200 KiB (the peak resident size is measured as bench
// P5).
void* arena_alloc(void*, std::size_t size)
{
    if (!first_arenas.mapped) {
        first_arenas.mapped = true;
        if (char* block = map_first_arenas()) {
            first_arenas.next = block;
            first_arenas.end = block + first_arenas_size;
        }
    }
    if (size >= smallest_arena && size <= static_cast<std::size_t>(first_arenas.end - first_arenas.next)) {
        void* arena = first_arenas.next;
        first_arenas.next += size;
        return arena;
    }
    void* arena = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return arena == MAP_FAILED ? nullptr : arena;
}

// An arena of the block is unmapped like any other (the kernel splits its
// huge page); its place in the block is never handed out again.
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
