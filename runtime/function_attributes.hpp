// Attributes, representation and reduction of function objects of the
// shared type.
#pragma once

#include <Python.h>

namespace runtime {

extern PyGetSetDef native_function_getset[];
extern PyMethodDef native_function_methods[];
extern PyGetSetDef common_metatype_getset[];

PyObject* native_function_repr(PyObject* func);

// Fills both defaults fields from the function's defaults builder. 0, or -1
// with an exception set (TypeError when the builder's result is no pair).
int init_defaults(PyObject* func);

} // namespace runtime
