// `import name`.
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace runtime {

// What `import name` binds: for a dotted name, the top-level package.
// Answers from sys.modules before calling the import machinery.
Owned<> import_by_name(PyObject* name);

} // namespace runtime
