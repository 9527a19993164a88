// Traceback entries for failures inside the module's native functions.
#pragma once

#include <Python.h>

namespace runtime {

// Appends a traceback entry (function name, line, file name) to the exception
// being raised. Never reports failure; see code_cache.hpp for the cache of
// the entries' code objects.
void add_traceback_entry(const char* funcname, int line, const char* filename);

} // namespace runtime
