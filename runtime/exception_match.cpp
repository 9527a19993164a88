// Exception-class matching as an `except` clause does it, and the subclass
// tests behind it. None of these can fail: they only read type records.
#include "exception_match.hpp"

namespace runtime {

namespace {

// A type whose MRO is not set yet (still being readied) has only its base
// chain; every chain ends at object, so object is a base of every type.
int base_chain_contains(PyTypeObject* a, PyTypeObject* b)
{
    for (PyTypeObject* t = a; t; t = t->tp_base) {
        if (t == b) {
            return 1;
        }
    }
    return b == &PyBaseObject_Type;
}

} // namespace

int type_inherits(PyTypeObject* a, PyTypeObject* b)
{
    if (a == b) {
        return 1;
    }
    PyObject* mro = a->tp_mro;
    if (!mro) {
        return base_chain_contains(a, b);
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(mro);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyTuple_GET_ITEM(mro, i) == reinterpret_cast<PyObject*>(b)) {
            return 1;
        }
    }
    return 0;
}

int type_inherits_either(PyTypeObject* t, PyTypeObject* a, PyTypeObject* b)
{
    if (t == a || t == b) {
        return 1;
    }
    PyObject* mro = t->tp_mro;
    if (!mro) {
        return base_chain_contains(t, a) || base_chain_contains(t, b);
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(mro);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* base = PyTuple_GET_ITEM(mro, i);
        if (base == reinterpret_cast<PyObject*>(a) || base == reinterpret_cast<PyObject*>(b)) {
            return 1;
        }
    }
    return 0;
}

int class_matches(PyObject* cls, PyObject* target)
{
    if (cls == target) {
        return 1;
    }
    if (!PyExceptionClass_Check(cls)) {
        return PyErr_GivenExceptionMatches(cls, target);
    }
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    if (PyExceptionClass_Check(target)) {
        return type_inherits(type, reinterpret_cast<PyTypeObject*>(target));
    }
    if (PyTuple_Check(target)) {
        // As in an `except` clause, an element that is not an exception class
        // (a nested tuple included) matches nothing.
        const Py_ssize_t n = PyTuple_GET_SIZE(target);
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (PyTuple_GET_ITEM(target, i) == cls) {
                return 1;
            }
        }
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* element = PyTuple_GET_ITEM(target, i);
            if (PyExceptionClass_Check(element) &&
                type_inherits(type, reinterpret_cast<PyTypeObject*>(element))) {
                return 1;
            }
        }
        return 0;
    }
    return PyErr_GivenExceptionMatches(cls, target);
}

int class_matches_tuple(PyObject* cls, PyObject* targets)
{
    const Py_ssize_t n = PyTuple_GET_SIZE(targets);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyTuple_GET_ITEM(targets, i) == cls) {
            return 1;
        }
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (class_matches(cls, PyTuple_GET_ITEM(targets, i))) {
            return 1;
        }
    }
    return 0;
}

int current_exception_matches(PyObject* target)
{
    PyObject* exc = _PyThreadState_UncheckedGet()->current_exception;
    if (!exc) {
        return 0;
    }
    auto* cls = reinterpret_cast<PyObject*>(Py_TYPE(exc));
    if (cls == target) {
        return 1;
    }
    if (PyTuple_Check(target)) {
        return class_matches_tuple(cls, target);
    }
    return class_matches(cls, target);
}

} // namespace runtime
