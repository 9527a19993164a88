// Module globals and builtins, looked up as LOAD_GLOBAL does: the module's
// dictionary first, then the builtins module.
#include "lookup_global.hpp"

#include "exception_match.hpp"
#include "runtime_state.hpp"

namespace runtime {

Owned<> lookup_global(PyObject* name)
{
    // The names handed here are constants whose hashes were computed when the
    // constant table was built, so the cached hash is read instead of hashing.
    // A name that somehow has none yet is hashed once here, which caches it.
    Py_hash_t hash = reinterpret_cast<PyASCIIObject*>(name)->hash;
    if (hash == -1) {
        hash = PyObject_Hash(name);
        if (hash == -1) {
            return {};
        }
    }
    if (PyObject* value = _PyDict_GetItem_KnownHash(state.module_dict, name, hash)) {
        return borrow(value);
    }
    // A miss leaves no exception; one set here came from comparing the name
    // with a key of the globals, and the interpreter passes that on as well.
    if (PyErr_Occurred()) {
        return {};
    }
    return lookup_builtin(name);
}

Owned<> lookup_builtin(PyObject* name)
{
    PyObject* builtins = state.builtins_module;
    const getattrofunc getattro = Py_TYPE(builtins)->tp_getattro;
    PyObject* result;
    if (getattro == PyObject_GenericGetAttr) {
        // Suppression turns a missing name into NULL without an exception.
        result = _PyObject_GenericGetAttrWithDict(builtins, name, nullptr, 1);
    } else {
        result = getattro ? getattro(builtins, name) : PyObject_GetAttr(builtins, name);
        if (!result && current_exception_matches(PyExc_AttributeError)) {
            PyErr_Clear();
        }
    }
    if (!result && !PyErr_Occurred()) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    }
    return steal(result);
}

} // namespace runtime
