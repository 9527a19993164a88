// The create and exec steps of the module definition.
#pragma once

#include <Python.h>

namespace kestrune {

// Admits only the first interpreter of the process, returns the bound module
// when there is one, else a new module built from the import spec.
PyObject* module_create(PyObject* spec, PyModuleDef* definition);

// Fills ModuleState and runs the module body; 0, or -1 with an exception set.
int module_exec(PyObject* module);

// The module reads interpreter layouts of 3.12 only: warns (RuntimeWarning)
// when `runtime_version`, in Py_Version's encoding, is another major or minor
// version; micro versions and release levels do not matter. -1 when a
// warnings filter turned the warning into an exception.
int warn_on_version_mismatch(unsigned long runtime_version);

} // namespace kestrune
