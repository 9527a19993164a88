// The process-wide objects that the runtime library reads.
//
// Each extension module that links this library gets its own copy of
// `runtime::state` (the library is linked statically and its symbols are
// hidden), and fills it during its exec step before the first function object
// is created or called. Every object field, here and in the code cache, is
// marked `owned`: it holds a strong reference that is never released (modules
// of this kind have no teardown), and readers use it as a borrowed reference.
#pragma once

#include <Python.h>

#include <cstdint>

namespace runtime {

// One cached code object of a traceback entry.
struct CodeCacheEntry {
    PyObject* code;  // owned: released when a later insertion replaces it
    std::int32_t line;
};

// Code objects of traceback entries, keyed by function name and script line.
// The first `count` entries are sorted by line; entries of one line differ in
// their code object's name. Line 0 is never cached.
struct CodeCache {
    std::int32_t count;
    std::int32_t capacity;
    CodeCacheEntry* entries;  // PyMem_Malloc'ed, null until the first insertion
};

struct RuntimeState {
    PyObject* module_dict;        // owned: globals of lookups and of traceback frames
    PyObject* builtins_module;    // owned: where lookup_builtin reads names
    PyObject* empty_tuple;        // owned: argument tuple of calls without arguments
    PyObject* empty_bytes;        // owned: instructions and tables of empty code objects
    PyTypeObject* function_type;  // owned: the shared native_function_or_method type
    CodeCache code_cache;         // filled by add_traceback_entry
    // Interned names read by the coroutine marker of function objects.
    PyObject* is_coroutine_name;        // owned: "_is_coroutine"
    PyObject* asyncio_coroutines_name;  // owned: "asyncio.coroutines"
};

extern RuntimeState state;

} // namespace runtime
