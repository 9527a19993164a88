// The helper's five functions. Each has the METH_NOARGS signature: `self` is
// the function object and is not used, `unused` is always NULL. Each returns a
// new reference, or NULL with an exception set and a traceback entry recorded.
#pragma once

#include <Python.h>

namespace kestrune {

PyObject* _read_token(PyObject* self, PyObject* unused);
PyObject* _parse_input(PyObject* self, PyObject* unused);
PyObject* cmd_get(PyObject* self, PyObject* unused);
// cmd_store and cmd_erase: nothing is stored; the configuration file is the
// only source of truth.
PyObject* cmd_store_erase(PyObject* self, PyObject* unused);

} // namespace kestrune
