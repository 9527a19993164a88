// The process-wide cache of the code objects of traceback entries: one per
// script line, in an array sorted by line and searched by bisection.
#include "code_cache.hpp"

#include <cstring>

#include "owned.hpp"

namespace runtime {

namespace {

constexpr int growth = 64;

} // namespace

int code_cache_position(const CodeCacheEntry* entries, int count, int line)
{
    int end = count - 1;
    if (line > entries[end].line) {
        return count;
    }
    int start = 0;
    int mid = 0;
    while (start < end) {
        mid = start + (end - start) / 2;
        if (line < entries[mid].line) {
            end = mid;
        } else if (line > entries[mid].line) {
            start = mid + 1;
        } else {
            return mid;
        }
    }
    return line <= entries[mid].line ? mid : mid + 1;
}

PyObject* code_cache_find(int line)
{
    const CodeCache& cache = state.code_cache;
    if (line == 0 || !cache.entries || cache.count == 0) {
        return nullptr;
    }
    const int pos = code_cache_position(cache.entries, cache.count, line);
    if (pos < cache.count && cache.entries[pos].line == line) {
        return new_ref(cache.entries[pos].code);
    }
    return nullptr;
}

void code_cache_insert(int line, PyObject* code)
{
    // Line 0 means "no line known"; entries there are never shared.
    if (line == 0) {
        return;
    }
    CodeCache& cache = state.code_cache;
    if (!cache.entries) {
        auto* entries = static_cast<CodeCacheEntry*>(PyMem_Malloc(growth * sizeof(CodeCacheEntry)));
        if (!entries) {
            return;
        }
        entries[0] = {new_ref(code), line};
        cache.entries = entries;
        cache.capacity = growth;
        cache.count = 1;
        return;
    }
    const int pos = cache.count == 0 ? 0 : code_cache_position(cache.entries, cache.count, line);
    if (pos < cache.count && cache.entries[pos].line == line) {
        // The entry holds the new object before the old one is released, so
        // whatever the release runs finds a consistent cache.
        PyObject* old = cache.entries[pos].code;
        cache.entries[pos].code = new_ref(code);
        Py_DECREF(old);
        return;
    }
    if (cache.count == cache.capacity) {
        const int capacity = cache.capacity + growth;
        auto* entries = static_cast<CodeCacheEntry*>(
            PyMem_Realloc(cache.entries, static_cast<std::size_t>(capacity) * sizeof(CodeCacheEntry)));
        // Without memory the code object is simply not cached; the caller's
        // traceback entry does not depend on it.
        if (!entries) {
            return;
        }
        cache.entries = entries;
        cache.capacity = capacity;
    }
    std::memmove(cache.entries + pos + 1, cache.entries + pos,
                 static_cast<std::size_t>(cache.count - pos) * sizeof(CodeCacheEntry));
    cache.entries[pos] = {new_ref(code), line};
    ++cache.count;
}

} // namespace runtime
