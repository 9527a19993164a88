// What the exec step runs: the script's names, one table entry per function
// and the module body. The script (scripts/) defines the table and the body;
// the frame knows nothing else of it.
#pragma once

#include <Python.h>

#include <initializer_list>

#include "code_object.hpp"
#include "constant_ids.hpp"
#include "module_state.hpp"

namespace kestrune {

// The module's qualified name, the script's file name as tracebacks show it,
// and the traceback entry name of the module body.
#define KESTRUNE_QUALIFIED_NAME "scripts.git_credential_kestrune"
inline constexpr char module_qualified_name[] = KESTRUNE_QUALIFIED_NAME;
inline constexpr char script_file[] = "scripts/git-credential-kestrune";
inline constexpr char module_body_entry[] = "init " KESTRUNE_QUALIFIED_NAME;

inline constexpr int max_locals = 5;

// One function of the script.
struct ScriptFunction {
    Const name;                  // its name, and its code object's
    runtime::CodeSpecWord code;  // counts, locals, flags and first line of its code object
    Const locals[max_locals];    // the names of its locals, code.nlocals() of them
    Const linetable;             // the location table of its code object
    PyMethodDef method;          // its native entry
};

// The entry of a function without parameters defined at `first_line`, as
// each of this script's functions is.
constexpr ScriptFunction script_function(Const name, int first_line,
                                         std::initializer_list<Const> locals, Const linetable,
                                         PyMethodDef method)
{
    ScriptFunction f{name, {}, {}, linetable, method};
    f.code = runtime::CodeSpecWord::pack({.nlocals = static_cast<int>(locals.size()),
                                          .flags = CO_OPTIMIZED | CO_NEWLOCALS,
                                          .first_line = first_line});
    int i = 0;
    for (Const local : locals) {
        f.locals[i++] = local;
    }
    return f;
}

// The script's functions, in the order of ModuleState::code_objects.
extern ScriptFunction script_functions[code_object_count];

// Runs the module body: imports, CONFIG_PATH, the function objects, the
// command-line dispatch when the module runs as __main__, and __test__.
// Returns 0 on success, or the script line of the failing statement with the
// exception set (the caller records the traceback entry).
int run_module_body();

} // namespace kestrune
