// Code objects that describe the module's functions as if compiled from their
// script, and the traceback entries recorded on failure paths.
#pragma once

#include <Python.h>

#include <cstdint>

namespace runtime {

// The packed description of one function's code object.
//   bit 0: argument count          bit 1: positional-only count
//   bit 2: keyword-only count      bits 3-5: number of locals
//   bits 6-15: code flags          bits 16-21: first line
struct CodeSpecWord {
    std::uint32_t word;

    constexpr int argcount() const noexcept { return word & 1; }
    constexpr int posonlyargcount() const noexcept { return (word >> 1) & 1; }
    constexpr int kwonlyargcount() const noexcept { return (word >> 2) & 1; }
    constexpr int nlocals() const noexcept { return (word >> 3) & 7; }
    constexpr int flags() const noexcept { return (word >> 6) & 0x3FF; }
    constexpr int first_line() const noexcept { return (word >> 16) & 0x3F; }
};

// Builds a code object from `spec`, the first spec.nlocals() names of
// `varnames`, the file and function names and the location table (bytes, or
// NULL for none). Equal variable-name tuples are shared through `dedup`.
// Returns a new reference, or NULL with an exception set.
PyObject* make_code_object(CodeSpecWord spec, PyObject* const* varnames, PyObject* filename,
                           PyObject* funcname, PyObject* linetable, PyObject* dedup);

// Appends a traceback entry (function name, line, file name) to the exception
// being raised. Never reports failure; see code_cache.hpp for the cache.
void add_traceback_entry(const char* funcname, int line, const char* filename);

} // namespace runtime
