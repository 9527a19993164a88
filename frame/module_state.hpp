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
    PyObject* native_runtime_module;  // owned: sys.modules["native_runtime"]
    PyObject* empty_str;              // owned: the empty str, made with the empty tuple and bytes
    PyObject* exit_args;              // owned: (None, None, None), __exit__ after a clean with block
    PyObject* token_get_args;         // owned: ("github_token", "")
    PyObject* host_get_args;          // owned: ("host", "")
    // owned: the interned key "protocol" of the parsed request, which
    // protocol_allows_token reads at every GitHub `get`. The script has no
    // such literal, so it is not in the constant table.
    PyObject* protocol_key;
    PyObject* code_objects[code_object_count];  // owned: in the order of script_functions
    PyObject* constants[constant_count];        // owned: the ConstantTable
    PyTypeObject* common_metatype;    // owned: the shared _common_types_metatype
    PyObject* builtin_open;           // owned: builtins.open, fetched once
    PyObject* bound_module;           // owned: the module the exec step bound, or null
    PyObject* builtin_print;          // owned: builtins.print, fetched once
};

extern ModuleState module_state;

// The identifier of the interpreter that first created the module; -1 until
// then. Only that interpreter may load the module.
extern std::int64_t main_interpreter_id;

// Constant `i` of the ConstantTable, borrowed.
inline PyObject* constant(Const i) noexcept { return module_state.constants[i]; }

} // namespace kestrune
