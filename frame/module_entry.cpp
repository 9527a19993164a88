// The module's entry point, its definition, and the create and exec steps of
// multi-phase initialisation.
#include <Python.h>

#include "constants.hpp"
#include "module_state.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"

namespace kestrune {

using runtime::Owned;
using runtime::steal;

namespace {

constexpr const char module_doc[] =
    "Kestrune git credential helper.\n"
    "\n"
    "Implements the git credential helper protocol:\n"
    "  - On `get`: reads ~/.kestrune/config.json, returns the saved github_token\n"
    "    as the password (with username=x-access-token, which is what GitHub\n"
    "    expects for PAT/OAuth tokens).\n"
    "  - On `store` / `erase`: no-op (we don't store credentials in this helper;\n"
    "    the source of truth is always config.json).\n"
    "\n"
    "This ensures that EVERY git invocation (push, pull, fetch, clone, terminal\n"
    "git, /api/git/* endpoints, CLI git) uses the SAME current token from\n"
    "config.json \xE2\x80\x94 never a stale token from .git/config or ~/.git-credentials.\n"
    "\n"
    "Install with:\n"
    "  git config --global credential.helper \"python3 /path/to/git-credential-kestrune\"\n"
    "  (or use the ! prefix form for absolute path resolution)\n";

// Copies spec.<attr> into the module's dictionary as <key>. A missing spec
// attribute is skipped; None is skipped only where `store_none` is false.
int copy_spec_attr(PyObject* spec, PyObject* dict, const char* attr, const char* key,
                   bool store_none)
{
    auto value = steal(PyObject_GetAttrString(spec, attr));
    if (!value) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            return 0;
        }
        return -1;
    }
    if (!store_none && value.get() == Py_None) {
        return 0;
    }
    return PyDict_SetItemString(dict, key, value.get());
}

PyObject* module_create(PyObject* spec, PyModuleDef*)
{
    const std::int64_t id = PyInterpreterState_GetID(PyThreadState_Get()->interp);
    if (id == -1) {
        return nullptr;
    }
    if (main_interpreter_id == -1) {
        main_interpreter_id = id;
    } else if (id != main_interpreter_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (module_state.bound_module) {
        return runtime::new_ref(module_state.bound_module);
    }

    auto name = steal(PyObject_GetAttrString(spec, "name"));
    if (!name) {
        return nullptr;
    }
    auto module = steal(PyModule_NewObject(name.get()));
    name.reset();
    if (!module) {
        return nullptr;
    }
    PyObject* dict = PyModule_GetDict(module.get());
    if (!dict) {
        return nullptr;
    }
    if (copy_spec_attr(spec, dict, "loader", "__loader__", true) < 0 ||
        copy_spec_attr(spec, dict, "origin", "__file__", true) < 0 ||
        copy_spec_attr(spec, dict, "parent", "__package__", true) < 0 ||
        copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", false) < 0) {
        return nullptr;
    }
    return module.release();
}

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

    auto& rt = runtime::state;
    auto fail = [&]() {
        Py_CLEAR(module_state.bound_module);
        return -1;
    };

    PyObject* dict = PyModule_GetDict(module);
    if (!dict) {
        return fail();
    }
    store_field(rt.module_dict, runtime::new_ref(dict));

    PyObject* builtins = PyImport_AddModule("builtins");
    if (!builtins) {
        return fail();
    }
    store_field(rt.builtins_module, runtime::new_ref(builtins));

    PyObject* native_runtime = PyImport_AddModule("native_runtime");
    if (!native_runtime) {
        return fail();
    }
    store_field(module_state.native_runtime_module, runtime::new_ref(native_runtime));

    if (PyObject_SetAttrString(module, "__builtins__", rt.builtins_module) < 0) {
        return fail();
    }

    // The module reads interpreter layouts of 3.12; micro versions and release
    // levels do not matter.
    if ((Py_Version & 0xFFFF0000UL) != 0x030C0000UL) {
        char message[200];
        PyOS_snprintf(message, sizeof message,
                      "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                      3, 12, "scripts.git_credential_kestrune", "does not match",
                      static_cast<int>(Py_Version >> 24), static_cast<int>((Py_Version >> 16) & 0xFF));
        if (PyErr_WarnEx(nullptr, message, 1) < 0) {
            return fail();
        }
    }

    PyObject* empty_tuple = PyTuple_New(0);
    if (!empty_tuple) {
        return fail();
    }
    store_field(rt.empty_tuple, empty_tuple);
    PyObject* empty_bytes = PyBytes_FromStringAndSize(nullptr, 0);
    if (!empty_bytes) {
        return fail();
    }
    store_field(rt.empty_bytes, empty_bytes);
    PyObject* empty_str = PyUnicode_FromStringAndSize(nullptr, 0);
    if (!empty_str) {
        return fail();
    }
    store_field(module_state.empty_str, empty_str);

    if (init_constants(module_state) < 0) {
        return fail();
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyMethodDef module_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "git_credential_kestrune",
    module_doc,
    0,
    module_methods,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

} // namespace

} // namespace kestrune

PyMODINIT_FUNC PyInit_git_credential_kestrune()
{
    return PyModuleDef_Init(&kestrune::module_def);
}
