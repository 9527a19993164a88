// The process-wide cache of traceback code objects, keyed by function name
// and script line (runtime::state.code_cache).
#pragma once

#include "owned.hpp"
#include "runtime_state.hpp"

namespace runtime {

// Index of the first entry whose line is `line` or more in the array of
// `count` entries sorted by line: where the entries for `line` begin, or
// where one for it would be inserted.
int code_cache_position(const CodeCacheEntry* entries, int count, int line);

// The code object cached for function `funcname` at `line`, or an empty
// handle (no exception is set).
Owned<> code_cache_find(const char* funcname, int line);

// Records `code` under its own name (co_name) and `line`, replacing the
// entry of the same name and line. Never raises: when memory is short the
// code object is simply not cached.
void code_cache_insert(int line, PyObject* code);

} // namespace runtime
