// The types shared by every extension module that links this library,
// registered in the interpreter-wide module "_native_abi_1".
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace runtime {

// The shared type described by `spec`: the one registered in "_native_abi_1"
// under the spec's short name, or a new one made from the spec (with
// `metatype` and `bases`, either may be NULL) and registered there. An empty
// handle with an exception set on failure.
Owned<> fetch_shared_type(PyTypeObject* metatype, PyType_Spec* spec, PyObject* bases);

// 0 when `candidate` may serve as the shared type `short_name` whose records
// are `basic_size` bytes (0: any size); -1 with TypeError set otherwise.
int check_shared_type(PyObject* candidate, const char* short_name, Py_ssize_t basic_size);

} // namespace runtime
