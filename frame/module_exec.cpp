// The exec step: fills ModuleState in a fixed order, then runs the module
// body. Every failure goes to one exit, which records the traceback entry
// "init scripts.git_credential_kestrune" for failures after the constant
// table exists and unbinds the module.
#include "code_object.hpp"
#include "constants.hpp"
#include "function_type.hpp"
#include "lookup.hpp"
#include "module_body.hpp"
#include "module_state.hpp"
#include "module_steps.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"

namespace kestrune {

using runtime::Owned;
using runtime::steal;

namespace {

constexpr const char entry_name[] = "init scripts.git_credential_kestrune";
constexpr const char script_file[] = "scripts/git-credential-kestrune";

// The five code objects, in the order of ModuleState::code_objects: each
// function's packed description, local names and location table.
struct CodeObjectDefinition {
    Const name;
    runtime::CodeSpecWord spec;
    Const varnames[5];
    Const linetable;
};

constexpr CodeObjectDefinition code_object_table[code_object_count] = {
    {n__read_token, {0x1700D0}, {n_f, n_cfg}, linetable__read_token},
    {n__parse_input, {0x1F00E8}, {n_data, n_line, n_k, n__, n_v}, linetable__parse_input},
    {n_cmd_get, {0x2B00D8}, {n_data, n_host, n_token}, linetable_cmd_get},
    {n_cmd_store, {0x3A00C0}, {}, linetable_cmd_store_erase},
    {n_cmd_erase, {0x3E00C0}, {}, linetable_cmd_store_erase},
};

} // namespace

int warn_on_version_mismatch(unsigned long runtime_version)
{
    if ((runtime_version & 0xFFFF0000UL) == 0x030C0000UL) {
        return 0;
    }
    char message[200];
    PyOS_snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  3, 12, "scripts.git_credential_kestrune", "does not match",
                  static_cast<int>(runtime_version >> 24),
                  static_cast<int>((runtime_version >> 16) & 0xFF));
    return PyErr_WarnEx(nullptr, message, 1);
}

namespace {

// Steps 3 to 8. -1 on failure.
int bind_basics(PyObject* module)
{
    auto& rt = runtime::state;
    PyObject* dict = PyModule_GetDict(module);
    if (!dict) {
        return -1;
    }
    store_field(rt.module_dict, runtime::new_ref(dict));
    PyObject* builtins = PyImport_AddModule("builtins");
    if (!builtins) {
        return -1;
    }
    store_field(rt.builtins_module, runtime::new_ref(builtins));
    PyObject* native_runtime = PyImport_AddModule("native_runtime");
    if (!native_runtime) {
        return -1;
    }
    store_field(module_state.native_runtime_module, runtime::new_ref(native_runtime));
    if (PyObject_SetAttrString(module, "__builtins__", rt.builtins_module) < 0) {
        return -1;
    }
    if (warn_on_version_mismatch(Py_Version) < 0) {
        return -1;
    }
    PyObject* empty_tuple = PyTuple_New(0);
    if (!empty_tuple) {
        return -1;
    }
    store_field(rt.empty_tuple, empty_tuple);
    PyObject* empty_bytes = PyBytes_FromStringAndSize(nullptr, 0);
    if (!empty_bytes) {
        return -1;
    }
    store_field(rt.empty_bytes, empty_bytes);
    PyObject* empty_str = PyUnicode_FromStringAndSize(nullptr, 0);
    if (!empty_str) {
        return -1;
    }
    store_field(module_state.empty_str, empty_str);
    return 0;
}

// Steps 10 and 11: the shared metatype and function type.
int fetch_shared_types()
{
    auto bases = steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyType_Type)));
    PyObject* metatype = bases ? runtime::fetch_shared_type(nullptr, &runtime::common_metatype_spec, bases.get())
                               : nullptr;
    store_field(module_state.common_metatype, reinterpret_cast<PyTypeObject*>(metatype));
    if (PyErr_Occurred()) {
        return -1;
    }
    PyObject* function_type =
        runtime::fetch_shared_type(module_state.common_metatype, &runtime::function_type_spec, nullptr);
    store_field(runtime::state.function_type, reinterpret_cast<PyTypeObject*>(function_type));
    if (!function_type) {
        return -1;
    }
    return 0;
}

// Step 12: the module is also known by its qualified name. An entry left by
// an earlier, failed attempt stays as it is.
int register_qualified_name(PyObject* module)
{
    PyObject* modules = PyImport_GetModuleDict();
    if (!modules) {
        return -1;
    }
    if (PyDict_GetItemString(modules, "scripts.git_credential_kestrune")) {
        return 0;
    }
    return PyDict_SetItemString(modules, "scripts.git_credential_kestrune", module);
}

// Steps 13 and 14: the cached builtins and the prepared argument tuples.
int prepare_call_objects()
{
    const auto& K = module_state.constants;
    PyObject* open = runtime::lookup_builtin(K[n_open]);
    store_field(module_state.builtin_open, open);
    if (!open) {
        return -1;
    }
    PyObject* print = runtime::lookup_builtin(K[n_print]);
    store_field(module_state.builtin_print, print);
    if (!print) {
        return -1;
    }
    PyObject* exit_args = PyTuple_Pack(3, Py_None, Py_None, Py_None);
    store_field(module_state.exit_args, exit_args);
    if (!exit_args) {
        return -1;
    }
    PyObject* token_args = PyTuple_Pack(2, K[n_github_token], K[str_empty]);
    store_field(module_state.token_get_args, token_args);
    if (!token_args) {
        return -1;
    }
    PyObject* host_args = PyTuple_Pack(2, K[n_host], K[str_empty]);
    store_field(module_state.host_get_args, host_args);
    return host_args ? 0 : -1;
}

// Step 15: the five code objects, sharing equal variable-name tuples.
int make_code_objects()
{
    auto dedup = steal(PyDict_New());
    if (!dedup) {
        return -1;
    }
    const auto& K = module_state.constants;
    for (int i = 0; i < code_object_count; ++i) {
        const auto& def = code_object_table[i];
        PyObject* varnames[5];
        for (int v = 0; v < def.spec.nlocals(); ++v) {
            varnames[v] = K[def.varnames[v]];
        }
        PyObject* code = runtime::make_code_object(def.spec, varnames, K[str_script_filename],
                                                   K[def.name], K[def.linetable], dedup.get());
        store_field(module_state.code_objects[i], code);
        if (!code) {
            return -1;
        }
    }
    return 0;
}

// Steps 10 to 16. 0, or the script line for the traceback entry.
int fill_state_and_run_body(PyObject* module)
{
    runtime::state.is_coroutine_name = module_state.constants[n__is_coroutine];
    runtime::state.asyncio_coroutines_name = module_state.constants[n_asyncio_coroutines];
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
        runtime::add_traceback_entry(entry_name, line, script_file);
        failed = -1;
    }
    if (failed) {
        Py_CLEAR(module_state.bound_module);
        return -1;
    }
    return 0;
}

} // namespace kestrune
