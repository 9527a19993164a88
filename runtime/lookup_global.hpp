// Module globals and builtins, looked up as LOAD_GLOBAL does.
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace runtime {

// The module global `name` (a str whose hash is already cached), else the
// builtin of that name, else NameError "name '%U' is not defined".
Owned<> lookup_global(PyObject* name);

// The attribute `name` of the builtins module, or NameError.
Owned<> lookup_builtin(PyObject* name);

} // namespace runtime
