// Start-up of the embedded interpreter.
#pragma once

#include <Python.h>

namespace launcher {

// What the interpreter is started for. A credential action makes no
// reference cycle that needs collecting before the process ends, so it runs
// without the cycle collector, and finds the regular expressions it compiles
// in re's cache already; a tool keeps the collector, as `python` does, and
// re as it comes.
enum class StartFor { tool, credential_action };

// Pre-initialises and initialises CPython 3.12 in isolated mode with the
// process's command line as sys.argv. The status is the interpreter's own:
// on an error or exit status the caller passes it to Py_ExitStatusException.
// For a credential action the collector is disabled as soon as the
// interpreter exists, so that none of the start-up's own collections runs
// either.
PyStatus start_interpreter(int argc, char** argv, StartFor start_for = StartFor::tool);

} // namespace launcher
