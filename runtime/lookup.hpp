// Name and attribute lookups used by the module's function bodies and body.
#pragma once

#include <Python.h>

namespace runtime {

// The module global `name` (a str whose hash is already cached), else the
// builtin of that name, else NameError "name '%U' is not defined".
PyObject* lookup_global(PyObject* name);

// The attribute `name` of the builtins module, or NameError.
PyObject* lookup_builtin(PyObject* name);

// The attribute `name` of `obj` through its type's getter slot.
PyObject* lookup_attr(PyObject* obj, PyObject* name);

// The special method `name` found on the type of `obj` (never on the
// instance), bound to `obj`. AttributeError with the bare name when absent.
PyObject* lookup_on_type(PyObject* obj, PyObject* name);

// What `import name` binds: for a dotted name, the top-level package.
// Answers from sys.modules before calling the import machinery.
PyObject* import_by_name(PyObject* name);

// obj[1].
PyObject* item_at_one(PyObject* obj);

} // namespace runtime
