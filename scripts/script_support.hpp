// What the helper's function bodies and the module body share: the names of
// their traceback entries, and short names for the constants and helpers they
// use on every line.
#pragma once

#include <Python.h>

#include "code_object.hpp"
#include "constant_ids.hpp"
#include "module_script.hpp"
#include "module_state.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"
#include "traceback_entry.hpp"

namespace kestrune {

using runtime::Owned;
using runtime::steal;

// Traceback entries name the script file and one of these functions.
inline constexpr char entry_read_token[] = KESTRUNE_QUALIFIED_NAME "._read_token";
inline constexpr char entry_parse_input[] = KESTRUNE_QUALIFIED_NAME "._parse_input";
inline constexpr char entry_cmd_get[] = KESTRUNE_QUALIFIED_NAME ".cmd_get";

// Records a traceback entry for `entry` at script line `line` on the
// exception being raised, and returns NULL so a body can write
// `return fail_at(entry_cmd_get, 44);`.
inline PyObject* fail_at(const char* entry, int line)
{
    runtime::add_traceback_entry(entry, line, script_file);
    return nullptr;
}

// receiver.name(args...) without making a bound method: args[0] is the
// receiver.
inline Owned<> call_method(PyObject* name, PyObject* const* args, std::size_t nargs)
{
    return steal(PyObject_VectorcallMethod(name, args, nargs, nullptr));
}

} // namespace kestrune
