// Code objects that describe the module's functions as if compiled from their
// script.
#pragma once

#include <Python.h>

#include <cstdint>

#include "owned.hpp"

namespace runtime {

// The fields of a code object that a CodeSpecWord carries, by name.
struct CodeShape {
    int argcount = 0;
    int posonlyargcount = 0;
    int kwonlyargcount = 0;
    int nlocals = 0;
    int flags = 0;       // CO_* bits
    int first_line = 0;  // the script line of the def statement
};

// The packed description of one function's code object.
//   bit 0: argument count          bit 1: positional-only count
//   bit 2: keyword-only count      bits 3-5: number of locals
//   bits 6-15: code flags          bits 16-21: first line
struct CodeSpecWord {
    std::uint32_t word;

    // Packs `shape`. A field too wide for its bits makes a constant
    // evaluation fail to compile.
    static constexpr CodeSpecWord pack(const CodeShape& shape)
    {
        const auto field = [](int value, int bits, int shift) -> std::uint32_t {
            if (value < 0 || value >= (1 << bits)) {
                field_out_of_range();
            }
            return static_cast<std::uint32_t>(value) << shift;
        };
        return {field(shape.argcount, 1, 0) | field(shape.posonlyargcount, 1, 1) |
                field(shape.kwonlyargcount, 1, 2) | field(shape.nlocals, 3, 3) |
                field(shape.flags, 10, 6) | field(shape.first_line, 6, 16)};
    }

    constexpr int argcount() const noexcept { return word & 1; }
    constexpr int posonlyargcount() const noexcept { return (word >> 1) & 1; }
    constexpr int kwonlyargcount() const noexcept { return (word >> 2) & 1; }
    constexpr int nlocals() const noexcept { return (word >> 3) & 7; }
    constexpr int flags() const noexcept { return (word >> 6) & 0x3FF; }
    constexpr int first_line() const noexcept { return (word >> 16) & 0x3F; }

private:
    // Not constexpr: reaching it during constant evaluation is the error.
    static void field_out_of_range() noexcept {}
};

// Builds a code object from `spec`, the first spec.nlocals() names of
// `varnames`, the file and function names and the location table (bytes, or
// NULL for none). Equal variable-name tuples are shared through `dedup`.
// An empty handle with an exception set on failure.
Owned<> make_code_object(CodeSpecWord spec, PyObject* const* varnames, PyObject* filename,
                         PyObject* funcname, PyObject* linetable, PyObject* dedup);

} // namespace runtime
