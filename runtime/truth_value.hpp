#pragma once

#include <Python.h>

namespace runtime {

// The truth of `obj` as an `if` statement sees it: 1, 0, or -1 with an
// exception set. True, False and None are decided without a call.
inline int truth_value(PyObject* obj)
{
    if (obj == Py_True) {
        return 1;
    }
    if (obj == Py_False || obj == Py_None) {
        return 0;
    }
    return PyObject_IsTrue(obj);
}

} // namespace runtime
