// ModuleState: the single process-wide record of the module.
//
// The module declares no per-module state block: the exec step fills this
// record once and everything else reads it directly. Every object field is
// marked `owned`: it holds one strong reference, written with
// runtime::set_field, and is never released (the module has no teardown), so
// readers use it as a borrowed reference.
//
// The fields that the runtime library reads as well (module_dict,
// builtins_module, empty_tuple, empty_bytes, function_type and the code-object
// cache) live in runtime::state, which this module fills in the same exec step.
#pragma once

#include <Python.h>

#include <cstdint>

#include "constant_ids.hpp"
#include "runtime_state.hpp"

namespace kestrune {

// The number of the script's functions, each with its code object.
inline constexpr int code_object_count = 5;

struct ModuleState {
    PyObject* native_runtime_module;  // sys.modules["native_runtime"], owned
    PyObject* empty_str;              // the empty str, made with the empty tuple and bytes, owned
    PyObject* exit_args;              // (None, None, None): a clean with block's __exit__, owned
    PyObject* token_get_args;         // ("github_token", ""), owned
    PyObject* host_get_args;          // ("host", ""), owned
    // The interned key "protocol" of the parsed request, owned: read by
    // protocol_allows_token at every GitHub `get`. The script has no such
    // literal, so it is not in the constant table.
    PyObject* protocol_key;
    PyObject* code_objects[code_object_count];  // in the order of script_functions, owned
    PyObject* constants[constant_count];        // the ConstantTable, owned
    PyTypeObject* common_metatype;    // the shared _common_types_metatype, owned
    PyObject* builtin_open;           // builtins.open, fetched once, owned
    PyObject* bound_module;           // the module the exec step bound, or null, owned
    PyObject* builtin_print;          // builtins.print, fetched once, owned
};

extern ModuleState module_state;

// The identifier of the interpreter that first created the module; -1 until
// then. Only that interpreter may load the module.
extern std::int64_t main_interpreter_id;

// Constant `i` of the ConstantTable, borrowed.
inline PyObject* constant(Const i) noexcept { return module_state.constants[i]; }

} // namespace kestrune
