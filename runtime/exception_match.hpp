// Exception-class matching as an `except` clause does it. These predicates
// return 1 or 0 and never raise.
#pragma once

#include <Python.h>

namespace runtime {

// Whether the exception being raised is an instance of `target` (a class or a
// tuple of classes); 0 when no exception is set.
int current_exception_matches(PyObject* target);

int class_matches(PyObject* cls, PyObject* target);
int class_matches_tuple(PyObject* cls, PyObject* targets);

// Whether `a` is, or derives from, `b` (or either of `b` and `c`).
int type_inherits(PyTypeObject* a, PyTypeObject* b);
int type_inherits_either(PyTypeObject* t, PyTypeObject* a, PyTypeObject* b);

} // namespace runtime
