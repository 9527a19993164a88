// The launcher's deep-frozen modules against the compiler: the code object
// that each entry of the frozen table gives is the one that compile() makes
// of the module's source, attribute by attribute and constant by constant,
// down to what Python does not show (the kinds of the local variables, the
// frame size) and to which strings are interned. The same for a table of
// the test's own, made the same way of a module that holds a constant of
// every kind. Twice in one process: an interpreter that checks, runs json
// from the launcher's table (specialising its code) and is finalised, then
// a second one that must find the objects as new.
//
//     test_deep_frozen_code LAUNCHER_SOURCES INTERPRETER_MODULES SAMPLE_SOURCES
//
// Each SOURCES file names the modules of a table with their source files
// (frozen_sources.txt, from launcher/freeze/freeze_modules.py);
// INTERPRETER_MODULES names the interpreter's own frozen modules that the
// launcher's table lays out in their place, with their source files
// (interpreter_frozen.txt). The program
// is linked as the launcher is: CPython's static library and the frozen
// tables.
#include <Python.h>

#include <cstdio>

#include "embedded_interpreter.hpp"
#include "owned.hpp"

extern "C" const _frozen kestrune_frozen_modules[];
extern "C" const _frozen kestrune_sample_modules[];

namespace {

using runtime::steal;

// (co_localspluskinds, co_nlocalsplus, co_framesize, co_ncellvars,
// co_nfreevars, _co_firsttraceable, co_version) of a code object.
PyObject* hidden_fields(PyObject*, PyObject* object)
{
    if (!PyCode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "a code object is needed");
        return nullptr;
    }
    auto* code = reinterpret_cast<PyCodeObject*>(object);
    return Py_BuildValue("(OiiiiiI)", code->co_localspluskinds, code->co_nlocalsplus, code->co_framesize,
                         code->co_ncellvars, code->co_nfreevars, code->_co_firsttraceable, code->co_version);
}

PyObject* is_interned(PyObject*, PyObject* text)
{
    return PyBool_FromLong(PyUnicode_CheckExact(text) && PyUnicode_CHECK_INTERNED(text));
}

PyMethodDef probe_methods[] = {
    {"hidden_fields", hidden_fields, METH_O, nullptr},
    {"is_interned", is_interned, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef probe_module = {PyModuleDef_HEAD_INIT, "_probe", nullptr, -1, probe_methods};

PyObject* init_probe()
{
    return PyModule_Create(&probe_module);
}

// Run with SOURCES set, and RUN_JSON for the launcher's table; raises
// AssertionError at the first difference.
constexpr const char* check_table_program = R"python(
import _imp
import _probe
import sys

ATTRIBUTES = ("co_argcount", "co_posonlyargcount", "co_kwonlyargcount", "co_nlocals",
              "co_stacksize", "co_flags", "co_firstlineno", "co_code", "_co_code_adaptive",
              "co_consts", "co_names", "co_varnames", "co_cellvars", "co_freevars",
              "co_filename", "co_name", "co_qualname", "co_linetable", "co_exceptiontable")
versions = set()

def differ(where, frozen, compiled):
    raise AssertionError("%s: %r in the table, %r from compile()" % (where, frozen, compiled))

def compare(where, frozen, compiled):
    if type(frozen) is not type(compiled):
        differ(where + " type", type(frozen), type(compiled))
    if type(frozen) is type(compare.__code__):
        for name in ATTRIBUTES:
            compare(where + "." + name, getattr(frozen, name), getattr(compiled, name))
        hidden = _probe.hidden_fields(frozen)
        compare(where + " hidden fields", hidden[:-1], _probe.hidden_fields(compiled)[:-1])
        if hidden[-1] == 0 or hidden[-1] in versions:
            differ(where + ".co_version", hidden[-1], "a version of its own")
        versions.add(hidden[-1])
        compare(where + ".co_lines()", tuple(frozen.co_lines()), tuple(compiled.co_lines()))
        compare(where + ".co_positions()", tuple(frozen.co_positions()), tuple(compiled.co_positions()))
        if frozen != compiled or hash(frozen) != hash(compiled):
            differ(where + " equality", frozen, compiled)
    elif type(frozen) is tuple:
        compare(where + " length", len(frozen), len(compiled))
        for index, (a, b) in enumerate(zip(frozen, compiled)):
            compare("%s[%d]" % (where, index), a, b)
    elif type(frozen) is frozenset:
        items = lambda s: sorted((type(x).__name__, repr(x)) for x in s)
        compare(where + " items", items(frozen), items(compiled))
    elif type(frozen) in (float, complex):
        parts = lambda x: (x.real.hex(), x.imag.hex())
        compare(where + " bits", parts(frozen), parts(compiled))
    elif frozen != compiled:
        differ(where, frozen, compiled)
    elif type(frozen) is str and _probe.is_interned(frozen) != _probe.is_interned(compiled):
        differ(where + " interned", _probe.is_interned(frozen), _probe.is_interned(compiled))

# Read as bytes: decoding text could import a codec from the table, running
# its code before it is checked.
with open(SOURCES, "rb") as f:
    sources = dict(line.decode().split("\t") for line in f.read().splitlines())
for name, path in sources.items():
    frozen = _imp.get_frozen_object(name)
    with open(path, "rb") as f:
        compiled = compile(f.read(), "<frozen %s>" % name, "exec", dont_inherit=True, optimize=0)
    compare(name, frozen, compiled)

# The interpreter's own frozen modules that the table lays out in place of
# CPython's, against their source compiled as CPython freezes it, which must
# also be the code the interpreter's frozen table holds. They ran at the start
# and are specialised by now; their quickened form is written as the table's
# own modules' is, checked above.
if INTERPRETER:
    import marshal
    ATTRIBUTES = tuple(name for name in ATTRIBUTES if name != "_co_code_adaptive")
    with open(INTERPRETER, "rb") as f:
        interpreter = dict(line.decode().split("\t") for line in f.read().splitlines())
    for name, path in interpreter.items():
        with open(path, "rb") as f:
            compiled = compile(f.read(), "<frozen %s>" % _imp.find_frozen(name)[2], "exec",
                               dont_inherit=True, optimize=0)
        if marshal.loads(_imp.find_frozen(name, withdata=True)[0]) != compiled:
            raise AssertionError("%s: the interpreter froze other code than %s" % (name, path))
        compare(name, _imp.get_frozen_object(name), compiled)
    sources.update(interpreter)

# Run the frozen code until it is specialised, from the table.
if RUN_JSON:
    import json
    if json.__spec__.origin != "frozen" or sys.modules["json.decoder"].__spec__.origin != "frozen":
        raise AssertionError("json was not imported from the frozen table")
    for _ in range(50):
        if json.loads(json.dumps({"a": [1, 2.5, "é", None]})) != {"a": [1, 2.5, "é", None]}:
            raise AssertionError("json does not round-trip")
print("%d frozen modules are what compile() makes of their source" % len(sources))
)python";

// INTERPRETER: the file that names the interpreter's own frozen modules that
// the table lays out, or nullptr.
int check_table(const _frozen* table, const char* sources, const char* interpreter, bool run_json)
{
    PyImport_FrozenModules = table;
    auto globals = steal(PyDict_New());
    auto path = steal(PyUnicode_DecodeFSDefault(sources));
    auto interpreter_path = interpreter ? steal(PyUnicode_DecodeFSDefault(interpreter)) : runtime::borrow(Py_None);
    if (!globals || !path || !interpreter_path
        || PyDict_SetItemString(globals.get(), "SOURCES", path.get()) < 0
        || PyDict_SetItemString(globals.get(), "INTERPRETER", interpreter_path.get()) < 0
        || PyDict_SetItemString(globals.get(), "RUN_JSON", run_json ? Py_True : Py_False) < 0) {
        PyErr_Print();
        return 1;
    }
    auto result = steal(PyRun_String(check_table_program, Py_file_input, globals.get(), globals.get()));
    if (!result) {
        PyErr_Print();
        return 1;
    }
    return 0;
}

// One interpreter: started with the standard library's own modules, so that
// no frozen code runs before it is checked; each table is then put in place.
int check_in_a_fresh_interpreter(const char* launcher_sources, const char* interpreter_modules,
                                 const char* sample_sources)
{
    PyImport_FrozenModules = nullptr;
    start_embedded_interpreter();
    if (check_table(kestrune_frozen_modules, launcher_sources, interpreter_modules, true) != 0
        || check_table(kestrune_sample_modules, sample_sources, nullptr, false) != 0) {
        return 1;
    }
    return Py_FinalizeEx() < 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: test_deep_frozen_code LAUNCHER_SOURCES INTERPRETER_MODULES SAMPLE_SOURCES\n");
        return 2;
    }
    if (PyImport_AppendInittab("_probe", init_probe) < 0) {
        return 1;
    }
    for (int interpreter = 0; interpreter < 2; interpreter++) {
        if (check_in_a_fresh_interpreter(argv[1], argv[2], argv[3]) != 0) {
            std::fprintf(stderr, "FAIL in interpreter %d of the process\n", interpreter + 1);
            return 1;
        }
    }
    return 0;
}
