#pragma once

#include <Python.h>

namespace runtime {

// Whether a == b: 1, 0, or -1 with an exception set. Exact str operands are
// compared without a rich comparison.
int str_equals(PyObject* a, PyObject* b);

} // namespace runtime
