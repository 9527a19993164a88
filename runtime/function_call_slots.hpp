// How function objects of the shared type are called: the vectorcall
// entries, chosen per object from its method flags, and the type's call slot.
// Each runs the native entry under the interpreter's C recursion guard, as
// the interpreter's own built-in functions do: whichever way a function
// object is reached (vectorcall, tp_call, a wrapper such as
// functools.partial), a call loop through it ends in RecursionError instead
// of a stack overflow.
#pragma once

#include <Python.h>

#include <cstddef>

namespace runtime {

PyObject* vectorcall_noargs(PyObject* func, PyObject* const* args, std::size_t nargsf,
                            PyObject* kwnames);
PyObject* vectorcall_o(PyObject* func, PyObject* const* args, std::size_t nargsf,
                       PyObject* kwnames);
PyObject* vectorcall_fastcall_keywords(PyObject* func, PyObject* const* args,
                                       std::size_t nargsf, PyObject* kwnames);
PyObject* vectorcall_fastcall_keywords_method(PyObject* func, PyObject* const* args,
                                              std::size_t nargsf, PyObject* kwnames);

// Calls `entry` with positional `args` and the keyword arguments of the
// non-empty dictionary `kwargs`, converted to vectorcall form.
PyObject* vectorcall_from_dict(PyObject* func, vectorcallfunc entry, PyObject* const* args,
                               Py_ssize_t nargs, PyObject* kwargs);

// Calls the definition's entry as a METH_VARARGS | METH_KEYWORDS function.
PyObject* call_with_tuple(PyObject* func, PyObject* self, PyObject* args, PyObject* kwargs);

// The type's tp_call.
PyObject* native_function_call(PyObject* func, PyObject* args, PyObject* kwargs);

} // namespace runtime
