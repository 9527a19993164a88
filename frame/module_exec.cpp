// The exec step: fills ModuleState in a fixed order, then runs the module
// body. Every failure goes to one exit, which records the module body's
// traceback entry for failures after the constant table exists and unbinds
// the module.
#include "code_object.hpp"
#include "constants.hpp"
#include "function_type.hpp"
#include "lookup_global.hpp"
#include "module_script.hpp"
#include "module_state.hpp"
#include "module_steps.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"
#include "shared_type.hpp"
#include "traceback_entry.hpp"

namespace kestrune {

using runtime::Owned;
using runtime::steal;

int warn_on_version_mismatch(unsigned long runtime_version)
{
    if ((runtime_version & 0xFFFF0000UL) == 0x030C0000UL) {
        return 0;
    }
    char message[200];
    PyOS_snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  3, 12, module_qualified_name, "does not match",
                  static_cast<int>(runtime_version >> 24),
                  static_cast<int>((runtime_version >> 16) & 0xFF));
    return PyErr_WarnEx(nullptr, message, 1);
}

namespace {

// The module dictionary, builtins, native_runtime, __builtins__, the version
// check and the empty tuple, bytes and str. -1 on failure.
int bind_basics(PyObject* module)
{
    using runtime::borrow;
    using runtime::set_field;
    auto& rt = runtime::state;
    PyObject* dict = PyModule_GetDict(module);
    if (!dict) {
        return -1;
    }
    set_field(rt.module_dict, borrow(dict));
    // PyImport_AddModule lends its result.
    set_field(rt.builtins_module, borrow(PyImport_AddModule("builtins")));
    if (!rt.builtins_module) {
        return -1;
    }
    set_field(module_state.native_runtime_module, borrow(PyImport_AddModule("native_runtime")));
    if (!module_state.native_runtime_module) {
        return -1;
    }
    if (PyObject_SetAttrString(module, "__builtins__", rt.builtins_module) < 0) {
        return -1;
    }
    if (warn_on_version_mismatch(Py_Version) < 0) {
        return -1;
    }
    set_field(rt.empty_tuple, steal(PyTuple_New(0)));
    if (!rt.empty_tuple) {
        return -1;
    }
    set_field(rt.empty_bytes, steal(PyBytes_FromStringAndSize(nullptr, 0)));
    if (!rt.empty_bytes) {
        return -1;
    }
    set_field(module_state.empty_str, steal(PyUnicode_FromStringAndSize(nullptr, 0)));
    return module_state.empty_str ? 0 : -1;
}

// A type handed over as an object.
Owned<PyTypeObject> as_type(Owned<> type)
{
    return steal(reinterpret_cast<PyTypeObject*>(type.release()));
}

// The shared metatype and function type.
int fetch_shared_types()
{
    auto bases = steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyType_Type)));
    if (!bases) {
        return -1;
    }
    runtime::set_field(module_state.common_metatype,
                       as_type(runtime::fetch_shared_type(
                           nullptr, &runtime::common_metatype_spec, bases.get())));
    if (!module_state.common_metatype) {
        return -1;
    }
    runtime::set_field(runtime::state.function_type,
                       as_type(runtime::fetch_shared_type(module_state.common_metatype,
                                                          &runtime::function_type_spec, nullptr)));
    return runtime::state.function_type ? 0 : -1;
}

// The module is also known by its qualified name. An entry left by
// an earlier, failed attempt stays as it is.
int register_qualified_name(PyObject* module)
{
    PyObject* modules = PyImport_GetModuleDict();
    if (!modules) {
        return -1;
    }
    if (PyDict_GetItemString(modules, module_qualified_name)) {
        return 0;
    }
    return PyDict_SetItemString(modules, module_qualified_name, module);
}

// The cached builtins, the prepared argument tuples and the request key.
int prepare_call_objects()
{
    using runtime::set_field;
    const auto& K = module_state.constants;
    set_field(module_state.builtin_open, runtime::lookup_builtin(K[n_open]));
    if (!module_state.builtin_open) {
        return -1;
    }
    set_field(module_state.builtin_print, runtime::lookup_builtin(K[n_print]));
    if (!module_state.builtin_print) {
        return -1;
    }
    set_field(module_state.exit_args, steal(PyTuple_Pack(3, Py_None, Py_None, Py_None)));
    if (!module_state.exit_args) {
        return -1;
    }
    set_field(module_state.token_get_args, steal(PyTuple_Pack(2, K[n_github_token], K[str_empty])));
    if (!module_state.token_get_args) {
        return -1;
    }
    set_field(module_state.host_get_args, steal(PyTuple_Pack(2, K[n_host], K[str_empty])));
    if (!module_state.host_get_args) {
        return -1;
    }
    set_field(module_state.protocol_key, steal(PyUnicode_InternFromString("protocol")));
    return module_state.protocol_key ? 0 : -1;
}

// The functions' code objects, sharing equal variable-name tuples.
int make_code_objects()
{
    auto dedup = steal(PyDict_New());
    if (!dedup) {
        return -1;
    }
    const auto& K = module_state.constants;
    for (int i = 0; i < code_object_count; ++i) {
        const ScriptFunction& def = script_functions[i];
        PyObject* varnames[max_locals];
        for (int v = 0; v < def.code.nlocals(); ++v) {
            varnames[v] = K[def.locals[v]];
        }
        runtime::set_field(module_state.code_objects[i],
                           runtime::make_code_object(def.code, varnames, K[str_script_filename],
                                                     K[def.name], K[def.linetable], dedup.get()));
        if (!module_state.code_objects[i]) {
            return -1;
        }
    }
    return 0;
}

// Everything after the constant table, the module body last. 0, or the
// script line for the traceback entry.
int fill_state_and_run_body(PyObject* module)
{
    using runtime::borrow;
    runtime::set_field(runtime::state.is_coroutine_name, borrow(constant(n__is_coroutine)));
    runtime::set_field(runtime::state.asyncio_coroutines_name,
                       borrow(constant(n_asyncio_coroutines)));
    if (fetch_shared_types() < 0 || register_qualified_name(module) < 0 ||
        prepare_call_objects() < 0 || make_code_objects() < 0) {
        return 1;
    }
    return run_module_body();
}

} // namespace

int module_exec(PyObject* module)
{
    if (module_state.bound_module) {
        if (module_state.bound_module == module) {
            return 0;
        }
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'git_credential_kestrune' has already been imported. "
                        "Re-initialisation is not supported.");
        return -1;
    }
    module_state.bound_module = runtime::new_ref(module);

    int failed = 0;
    if (bind_basics(module) < 0 || init_constants(module_state) < 0) {
        failed = -1;
    } else if (int line = fill_state_and_run_body(module)) {
        runtime::add_traceback_entry(module_body_entry, line, script_file);
        failed = -1;
    }
    if (failed) {
        Py_CLEAR(module_state.bound_module);
        return -1;
    }
    return 0;
}

} // namespace kestrune
