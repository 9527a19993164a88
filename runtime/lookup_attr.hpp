// Attribute lookup through the type's getter slot.
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace runtime {

// The attribute `name` of `obj`, or an empty handle with the exception set.
Owned<> lookup_attr(PyObject* obj, PyObject* name);

} // namespace runtime
