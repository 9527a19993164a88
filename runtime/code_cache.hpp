// The process-wide cache of traceback code objects, keyed by script line
// (runtime::state.code_cache).
#pragma once

#include "runtime_state.hpp"

namespace runtime {

// Index of the entry for `line` in the sorted, non-empty array, or the index
// at which it would be inserted.
int code_cache_position(const CodeCacheEntry* entries, int count, int line);

// A new reference to the code object cached for `line`, or NULL (no
// exception is set).
PyObject* code_cache_find(int line);

// Records `code` for `line`. Never raises: when memory is short the code
// object is simply not cached.
void code_cache_insert(int line, PyObject* code);

} // namespace runtime
