#include "module_state.hpp"
#include "module_steps.hpp"
#include "owned.hpp"

namespace kestrune {

using runtime::steal;

namespace {

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

} // namespace

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

} // namespace kestrune
