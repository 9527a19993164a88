// Special-method lookup, as the `with` statement does it.
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace runtime {

// The special method `name` found on the type of `obj` (never on the
// instance), bound to `obj`. AttributeError with the bare name when absent.
Owned<> lookup_on_type(PyObject* obj, PyObject* name);

} // namespace runtime
