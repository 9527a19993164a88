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
    PyObject* code;  // owned
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
    PyObject* module_dict;        // globals of lookups and of traceback frames, owned
    PyObject* builtins_module;    // where lookup_builtin reads names, owned
    PyObject* empty_tuple;        // argument tuple of calls without arguments, owned
    PyObject* empty_bytes;        // instructions and tables of empty code objects, owned
    PyTypeObject* function_type;  // the shared native_function_or_method type, owned
    CodeCache code_cache;         // filled by add_traceback_entry
    // Interned names read by the coroutine marker of function objects.
    PyObject* is_coroutine_name;        // "_is_coroutine", owned
    PyObject* asyncio_coroutines_name;  // "asyncio.coroutines", owned
};

extern RuntimeState state;

} // namespace runtime
