// ModuleState: the single process-wide record of the module.
//
// The module declares no per-module state block: the exec step fills this
// record once and everything else reads it directly. It holds one strong
// reference to every object it names and is never released (the module has no
// teardown), so readers use its fields as borrowed references.
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
    PyObject* native_runtime_module;  // sys.modules["native_runtime"]
    PyObject* empty_str;              // the empty str, made beside the empty tuple and bytes
    PyObject* exit_args;              // (None, None, None): __exit__ after a clean with block
    PyObject* token_get_args;         // ("github_token", "")
    PyObject* host_get_args;          // ("host", "")
    PyObject* code_objects[code_object_count];  // in the order of script_functions
    PyObject* constants[constant_count];  // the ConstantTable
    PyTypeObject* common_metatype;    // the shared _common_types_metatype
    PyObject* builtin_open;           // builtins.open, fetched once
    PyObject* bound_module;           // the module the exec step bound, or null
    PyObject* builtin_print;          // builtins.print, fetched once
};

extern ModuleState module_state;

// The identifier of the interpreter that first created the module; -1 until
// then. Only that interpreter may load the module.
extern std::int64_t main_interpreter_id;

// Constant `i` of the ConstantTable, borrowed.
inline PyObject* constant(Const i) noexcept { return module_state.constants[i]; }

} // namespace kestrune
