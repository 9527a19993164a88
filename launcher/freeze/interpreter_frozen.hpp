// The stand-in for CPython's deepfreeze.o (interpreter_frozen.cpp). The
// interpreter calls its _Py_Deepfreeze_Init once while it is being created,
// after its cycle collector is set up and before any of its Python code runs:
// the one point of the creation where the launcher's code runs.
#pragma once

namespace launcher {

// Set before the interpreter is created: its cycle collector is then turned
// off at that point, so that none of the start-up's collections runs (the
// import system's bootstrap would run one before anything else could turn it
// off).
extern bool collector_off_from_creation;

} // namespace launcher
