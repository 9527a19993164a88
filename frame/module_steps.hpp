// The create and exec steps of the module definition.
#pragma once

#include <Python.h>

namespace kestrune {

// Admits only the first interpreter of the process, returns the bound module
// when there is one, else a new module built from the import spec.
PyObject* module_create(PyObject* spec, PyModuleDef* definition);

// Fills ModuleState and runs the module body; 0, or -1 with an exception set.
int module_exec(PyObject* module);

} // namespace kestrune
