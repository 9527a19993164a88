// obj[1].
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace runtime {

// obj[1], or an empty handle with the container's own exception set.
Owned<> item_at_one(PyObject* obj);

} // namespace runtime
