// Start-up of the embedded interpreter.
#pragma once

#include <Python.h>

namespace launcher {

// Pre-initialises and initialises CPython 3.12 in isolated mode with the
// process's command line as sys.argv. The status is the interpreter's own:
// on an error or exit status the caller passes it to Py_ExitStatusException.
PyStatus start_interpreter(int argc, char** argv);

} // namespace launcher
