// The rest of CPython's deepfreeze.o, which the launcher's frozen table
// replaces (launcher/freeze/CMakeLists.txt): with every symbol of that member
// defined here or by the table's getters, the linker never takes it.
//
// CPython's member lays out its own frozen modules and, from
// _Py_Deepfreeze_Init at every start, makes each one ready: it interns the
// names of all their code objects and quickens their bytecode, whether the
// run imports the module or not. Here the modules that a launcher run
// imports are laid out as the table's own, already quickened, and made ready
// at their first import (kestrune_deep_frozen_code); the others are
// unmarshalled at each import. So there is nothing to make ready at the
// start, which is where the launcher can turn the collector off.
#define Py_BUILD_CORE 1
#include <Python.h>

#include "internal/pycore_code.h"

#include "freeze/deep_frozen_module.h"
#include "freeze/interpreter_frozen.hpp"

// As internal/pycore_pylifecycle.h declares them; that header is C only.
extern "C" {
int _Py_Deepfreeze_Init(void);
void _Py_Deepfreeze_Fini(void);
}

// The interpreter gives each new code object the next version of this
// counter; CPython's member started it above the versions it had written
// into its static code objects. The modules that replace them take theirs
// from the counter when they are made ready, so it starts at the first.
uint32_t _Py_next_func_version = 1;

bool launcher::collector_off_from_creation = false;

int _Py_Deepfreeze_Init(void)
{
    if (launcher::collector_off_from_creation) {
        PyGC_Disable();
    }
    return 0;
}

// Called at the point of the finalisation where CPython gives back what its
// static code objects gained in the run, right after the audit hooks are
// cleared, which is where the table's modules are given back already; this
// gives back any that were left (when no audit hook could be added).
void _Py_Deepfreeze_Fini(void)
{
    kestrune_release_deep_frozen_modules();
}
