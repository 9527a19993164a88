// Start-up of the embedded interpreter.
#pragma once

#include <Python.h>

namespace launcher {

// Whether the cycle collector runs. A credential action makes no reference
// cycle that needs collecting before the process ends, so it runs without;
// the tools keep it, as `python` does.
enum class Collector { on, off };

// Pre-initialises and initialises CPython 3.12 in isolated mode with the
// process's command line as sys.argv. The status is the interpreter's own:
// on an error or exit status the caller passes it to Py_ExitStatusException.
// With Collector::off the collector is disabled as soon as the interpreter
// exists, so that none of the start-up's own collections runs either.
PyStatus start_interpreter(int argc, char** argv, Collector collector = Collector::on);

} // namespace launcher
