// The ConstantTable: the module's 66 constants, decoded once from the
// compressed stream that the build generates from constant_table.txt.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "constant_ids.hpp"
#include "module_state.hpp"

namespace kestrune {

// Fills state.constants: 62 str (entries 10 to 61 interned) and 4 bytes, each
// with its hash computed. 0 on success, -1 with an exception set.
int init_constants(ModuleState& state);

// The work of init_constants on a given stream and length table; exposed so
// that tests can feed it a damaged table.
int decode_constants(PyObject** table, const unsigned char* stream, std::size_t stream_size,
                     const std::uint32_t (&lengths)[constant_count]);

// The compressed stream as embedded in the module.
const unsigned char* constant_stream_data() noexcept;
std::size_t constant_stream_size() noexcept;

} // namespace kestrune
