// Fetching the shared types from the interpreter-wide module "_native_abi_1":
// the first sharing module to execute creates and registers each
// type; every later one finds it there and checks it.
#include "shared_type.hpp"

#include <cstring>

namespace runtime {

namespace {

constexpr const char shared_module_name[] = "_native_abi_1";

// The text after the last "." of a type's name, or the whole name.
const char* short_name_of(const char* type_name) noexcept
{
    const char* dot = std::strrchr(type_name, '.');
    return dot ? dot + 1 : type_name;
}

} // namespace

int check_shared_type(PyObject* candidate, const char* short_name, Py_ssize_t basic_size)
{
    if (!PyType_Check(candidate)) {
        PyErr_Format(PyExc_TypeError, "Shared native type %.200s is not a type object",
                     short_name);
        return -1;
    }
    if (basic_size != 0 &&
        reinterpret_cast<PyTypeObject*>(candidate)->tp_basicsize != basic_size) {
        PyErr_Format(PyExc_TypeError,
                     "Shared native type %.200s has the wrong size, try recompiling", short_name);
        return -1;
    }
    return 0;
}

Owned<> fetch_shared_type(PyTypeObject* metatype, PyType_Spec* spec, PyObject* bases)
{
    const char* short_name = short_name_of(spec->name);
    auto key = steal(PyUnicode_FromString(short_name));
    if (!key) {
        return {};
    }
    // PyImport_AddModule lends its result; hold our own reference while the
    // type is being created, since that can run arbitrary code.
    auto shared_module = borrow(PyImport_AddModule(shared_module_name));
    if (!shared_module) {
        return {};
    }
    PyObject* dict = PyModule_GetDict(shared_module.get());  // borrowed
    if (!dict) {
        return {};
    }

    // A registered object, found (borrowed) under the key: check it and take
    // a reference to it.
    auto adopt_registered = [&](PyObject* registered) -> Owned<> {
        auto found = borrow(registered);
        if (check_shared_type(found.get(), short_name, spec->basicsize) < 0) {
            return {};
        }
        return found;
    };

    if (PyObject* registered = PyDict_GetItemWithError(dict, key.get())) {
        return adopt_registered(registered);
    }
    if (PyErr_Occurred()) {
        return {};
    }

    auto created = steal(PyType_FromMetaclass(metatype, shared_module.get(), spec, bases));
    if (!created) {
        return {};
    }
    // Set-default keeps exactly one type: a type registered under the same key
    // while ours was being created wins, and ours is discarded.
    PyObject* registered = PyDict_SetDefault(dict, key.get(), created.get());  // borrowed
    if (!registered) {
        return {};
    }
    if (registered == created.get()) {
        return created;
    }
    // Keep the winner alive past the release of ours.
    auto winner = borrow(registered);
    created.reset();
    return adopt_registered(winner.get());
}

} // namespace runtime
