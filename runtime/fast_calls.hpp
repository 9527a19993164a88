// Calls of any callable from the module's code, with a fast path for the
// common callee kinds. Each returns the call's result, or an empty handle
// with an exception set.
#pragma once

#include <Python.h>

#include <cstddef>

#include "owned.hpp"

namespace runtime {

// Calls through the callee type's tp_call under the recursion guard.
Owned<> call_object(PyObject* callee, PyObject* args, PyObject* kwargs);

// Calls the native entry of a built-in function or a native function object
// directly, with one argument or none (`arg` NULL).
Owned<> call_c_entry(PyObject* callee, PyObject* arg);

// Calls any callable with positional arguments. `nargsf` may carry
// PY_VECTORCALL_ARGUMENTS_OFFSET when args[-1] belongs to the caller.
Owned<> call_fast(PyObject* callee, PyObject* const* args, std::size_t nargsf);

// Calls a value fetched from a global or an attribute with `nargs` positional
// arguments held in args[1..nargs]; args[0] is the reserved slot. A bound
// method is unbound first, its self going into the reserved slot, so that no
// argument tuple or bound call is made. `args[0]` is overwritten.
Owned<> call_unbinding(PyObject* callee, PyObject** args, Py_ssize_t nargs);

} // namespace runtime
