// The process-wide cache of the code objects of traceback entries: one per
// function and script line, in an array sorted by line and searched by
// bisection. Two functions may fail at the same line (two modules linking
// this library share none, but one module's functions may), so the line
// alone is not the key: each entry is found by its code object's name too.
#include "code_cache.hpp"

#include <cstring>

namespace runtime {

namespace {

constexpr int growth = 64;

PyObject* code_name(PyObject* code) noexcept
{
    return reinterpret_cast<PyCodeObject*>(code)->co_name;
}

// The index of the entry for (`name`, `line`), or -1.
int find_entry(const CodeCache& cache, PyObject* name, const char* funcname, int line)
{
    for (int pos = code_cache_position(cache.entries, cache.count, line);
         pos < cache.count && cache.entries[pos].line == line; ++pos) {
        PyObject* cached = code_name(cache.entries[pos].code);
        const bool same = name ? PyUnicode_Compare(cached, name) == 0
                               : PyUnicode_CompareWithASCIIString(cached, funcname) == 0;
        if (same) {
            return pos;
        }
    }
    return -1;
}

} // namespace

int code_cache_position(const CodeCacheEntry* entries, int count, int line)
{
    int start = 0;
    int end = count;
    while (start < end) {
        const int mid = start + (end - start) / 2;
        if (entries[mid].line < line) {
            start = mid + 1;
        } else {
            end = mid;
        }
    }
    return start;
}

Owned<> code_cache_find(const char* funcname, int line)
{
    const CodeCache& cache = state.code_cache;
    if (line == 0 || !cache.entries) {
        return {};
    }
    const int pos = find_entry(cache, nullptr, funcname, line);
    return pos < 0 ? Owned<>() : borrow(cache.entries[pos].code);
}

void code_cache_insert(int line, PyObject* code)
{
    // Line 0 means "no line known"; entries there are never shared.
    if (line == 0) {
        return;
    }
    CodeCache& cache = state.code_cache;
    if (const int pos = cache.entries ? find_entry(cache, code_name(code), nullptr, line) : -1;
        pos >= 0) {
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
    // After the entries of the same line: the first one made stays first.
    int pos = code_cache_position(cache.entries, cache.count, line);
    while (pos < cache.count && cache.entries[pos].line == line) {
        ++pos;
    }
    std::memmove(cache.entries + pos + 1, cache.entries + pos,
                 static_cast<std::size_t>(cache.count - pos) * sizeof(CodeCacheEntry));
    cache.entries[pos] = {new_ref(code), line};
    ++cache.count;
}

} // namespace runtime
