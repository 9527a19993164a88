"""Writes the launcher's table of frozen standard-library modules.

    python3.12 -I -S freeze_modules.py [--deep-freeze INCLUDE_DIR [--interpreter-frozen IDS]]
                                       MODULE_DIR OUTPUT_DIR DEPFILE
    python3.12 -I -S freeze_modules.py --deep-freeze INCLUDE_DIR --table SYMBOL OUTPUT_DIR NAME=SOURCE...
    python3.12 -I -S freeze_modules.py --check-interpreter-frozen IDS

A run of the launcher imports the pure-Python modules it needs (json and its
chain: re, enum, functools, collections, ...) from the standard library on
disk: a search of sys.path, a stat and a read of each cached bytecode file,
and an unmarshal. The launcher serves them instead from a table linked into
it, which the interpreter's frozen importer reads before any path is
searched.

The table is not written by hand: this script runs the built module in a
fresh python3.12 as a launcher run would (the interpreter's start-up, the
module's import, a `get` request answered from a configuration file) and
freezes every module that run imported from a source file of the standard
library. Each is compiled from its source with the file name that CPython
gives its own frozen modules, "<frozen NAME>": a traceback shows the line
number and no source line, and opens no file for it, so no file on the
machine that runs the launcher (nor the build machine's path) can supply
the text it shows. Modules that the interpreter already serves frozen,
built-in or from extension files are left as they are.

The output is C, in OUTPUT_DIR/frozen_modules.c: one byte string of
marshalled code per module, and the table `kestrune_frozen_modules`, ended
by an entry of nulls. With --deep-freeze, each module's code objects are
also laid out as static objects (launcher/freeze/deep_freeze.py, with the
layouts of the CPython headers in INCLUDE_DIR), and its `get_code` entry
returns them (`kestrune_deep_frozen_code`,
launcher/freeze/deep_frozen_code.cpp): nothing is unmarshalled (see
main_interpreter_only for what its entry's bytes hold). A module whose
objects cannot all be laid out keeps its marshalled code, with a message.
The code of a module that is unmarshalled and of RELEASED_SIZE bytes or
more starts on a page of its own and is loaded through
`kestrune_load_frozen_code` (launcher/freeze/frozen_code.cpp), which gives
its pages back once the code object is made. OUTPUT_DIR/frozen_sources.txt
names each module's source file, for the test that compares the static
objects with the compiler's (tests/freeze). The depfile names the source
files frozen, so that the build freezes them again when one of them
changes.

With --interpreter-frozen, the table also stands in for CPython's own
frozen modules (importlib's bootstrap, os, codecs, io, ...), which its
static library lays out in deepfreeze.o and makes ready at every start,
imported or not: IDS names the module of each of that member's getters
(`_Py_get_<id>_toplevel`, comma-separated), and the launcher links
launcher/freeze/interpreter_frozen.cpp for the rest of it. Each getter
returns the code that the interpreter's frozen table holds for the module,
its own marshalled code: laid out as static objects and made ready at its
first import when the run imported it, unmarshalled at each import
otherwise, as a frozen module that is not deep-frozen is.
OUTPUT_DIR/interpreter_frozen.txt names the ones laid out, with their
source files, for the test. The third form only checks that every id of
IDS names a module of the interpreter's frozen table (exit status 1 when
one does not), which configure does before choosing to stand in for them.

The second form freezes the source files named instead, into the table
SYMBOL, and writes no depfile and no other table: tests/freeze freezes a
module with a constant of every kind that way.

Two more tables go with it, from the same run, in OUTPUT_DIR/run_tables.c:
- `kestrune_preloaded_extensions` (freeze/extension_table.h): the extension
  modules the run loaded from the standard library's lib-dynload, which the
  launcher loads before the interpreter starts
  (launcher/process/extension_preload.cpp);
- `kestrune_seeded_patterns` (freeze/seeded_patterns.h): the regular
  expressions the run compiled, in the order of re's cache, each as what
  re.compile passed to _sre.compile for it, which the launcher puts in re's
  cache (launcher/process/pattern_cache.cpp). Each is checked here to make,
  through _sre.compile, the pattern that re.compile makes: a pattern that
  does not is left out with a message, and compiled as usual at run time.
"""
import ast
import json
import marshal
import os
import re
import subprocess
import sys
import tempfile

import _imp
import _sre

# Run with -I, which leaves this folder off sys.path.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from deep_freeze import CannotFreeze, StaticObjects, c_text  # noqa: E402

# What a launcher run does after the interpreter's start-up. The probe imports
# nothing of its own before the module, so sys.modules holds what the run
# imported and nothing else.
PROBE = """\
import sys
sys.path.insert(0, sys.argv[1])
import git_credential_kestrune
git_credential_kestrune.cmd_get()
sys.stdout.write("\\n--modules--\\n")
for name, module in sorted(sys.modules.items()):
    spec = getattr(module, "__spec__", None)
    origin = getattr(spec, "origin", None)
    if origin == "frozen":
        sys.stdout.write("frozen\\t%s\\n" % name)
    if not isinstance(origin, str) or not getattr(spec, "has_location", False):
        continue
    package = spec.submodule_search_locations is not None
    if origin.endswith(".py"):
        sys.stdout.write("source\\t%s\\t%d\\t%s\\n" % (name, package, origin))
    elif type(spec.loader).__name__ == "ExtensionFileLoader":
        sys.stdout.write("extension\\t%s\\t%d\\t%s\\n" % (name, package, origin))
re = sys.modules.get("re")
for key in getattr(re, "_cache", ()):
    sys.stdout.write("pattern\\t%s\\n" % ascii(key[1:]))
"""

RELEASED_SIZE = 8192
PAGE_SIZE = 4096

REQUEST = "protocol=https\nhost=github.com\n\n"
ANSWER = "username=x-access-token\npassword=freeze\n\n"


def what_a_run_loads(module_dir):
    """([(name, is_package, source path)], [(name, file path)], [(pattern,
    flags)], {name}): the standard-library modules that a run imports from
    source files, the extension modules it loads from the standard library's
    lib-dynload, the regular expressions it compiles, in the order of re's
    cache, and the names of the interpreter's frozen modules it imports."""
    with tempfile.TemporaryDirectory(prefix="kestrune-freeze-") as home:
        os.mkdir(os.path.join(home, ".kestrune"))
        with open(os.path.join(home, ".kestrune", "config.json"), "w", encoding="utf-8") as f:
            json.dump({"github_token": "freeze"}, f)
        env = {"HOME": home, "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
               "LC_ALL": "C.UTF-8"}
        done = subprocess.run(
            [sys.executable, "-I", "-S", "-X", "utf8", "-X", "frozen_modules=on",
             "-c", PROBE, module_dir],
            input=REQUEST, env=env, capture_output=True, text=True, timeout=120)
    answer, _, listing = done.stdout.partition("\n--modules--\n")
    if done.returncode != 0 or answer != ANSWER:
        sys.exit("freeze_modules: the probe run failed (exit %d):\n%s%s"
                 % (done.returncode, done.stdout, done.stderr))
    stdlib = os.path.realpath(sys._stdlib_dir)
    extension_dir = os.path.join(stdlib, "lib-dynload")
    modules, extensions, patterns, frozen = [], [], [], set()
    for line in listing.splitlines():
        kind, _, rest = line.partition("\t")
        if kind == "pattern":
            patterns.append(ast.literal_eval(rest))
            continue
        if kind == "frozen":
            frozen.add(rest)
            continue
        name, package, origin = rest.split("\t")
        if kind == "source" and os.path.realpath(origin).startswith(stdlib + os.sep):
            modules.append((name, package == "1", origin))
        elif kind == "extension" and os.path.dirname(os.path.realpath(origin)) == extension_dir:
            extensions.append((name, origin))
    if not modules:
        sys.exit("freeze_modules: the probe run imported no standard-library source module")
    return modules, extensions, patterns, frozen


# The interpreter's frozen modules whose getter is not named after the module
# it serves: CPython freezes Tools/freeze/flag.py as "frozen_only" and serves
# it as __hello_only__.
GETTER_IDS = {"__hello_only__": "frozen_only"}


def interpreter_modules(ids, imported):
    """[(id, name, marshalled code, imported)] for each id of `ids`: the name
    the interpreter's frozen table serves its module under, that table's
    marshalled code of it, and whether the run imported it. An id that names
    no module of the table ends the script (the build checks them first, with
    --check-interpreter-frozen)."""
    names = {}
    for name in _imp._frozen_module_names():
        origin = _imp.find_frozen(name)[2]
        if origin is not None and origin.startswith("<"):
            continue  # a package's __init__, served under the package's name too
        names.setdefault(GETTER_IDS.get(name, (origin or name).replace(".", "_")), []).append(name)
    modules = []
    for getter_id in ids:
        served = names.get(getter_id)
        if not served:
            sys.exit("freeze_modules: no frozen module of the interpreter has the getter id %r"
                     % getter_id)
        data = bytes(_imp.find_frozen(served[0], withdata=True)[0])
        modules.append((getter_id, served[0], data, any(name in imported for name in served)))
    return modules


def interpreter_source(name):
    """The standard library's source file of the interpreter's frozen module
    `name`."""
    _, package, origin = _imp.find_frozen(name)
    path = os.path.join(sys._stdlib_dir, *origin.split("."))
    return os.path.join(path, "__init__.py") if package else path + ".py"


def write_if_changed(path, text):
    """Rewrites `path` only when its text changes, so that nothing that
    depends on it is rebuilt for nothing."""
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def write_depfile(modules, output, depfile):
    def escaped(path):
        return path.replace(" ", "\\ ").replace("$", "$$")

    sources = " \\\n  ".join(escaped(origin) for _, _, origin in modules)
    write_if_changed(depfile, "%s: \\\n  %s\n" % (escaped(output), sources))


def sre_compile_arguments(pattern, flags):
    """What re.compile(pattern, flags) passes to _sre.compile, as re's own
    compiler computes it: the pattern, its flags, its code, its groups and
    its group index both ways."""
    recorded = []

    class Recorder:
        @staticmethod
        def compile(*args):
            recorded.append(args)
            return _sre.compile(*args)

    compiler = re._compiler
    compiler._sre, real = Recorder, compiler._sre
    try:
        compiler.compile(pattern, flags)
    finally:
        compiler._sre = real
    (args,) = recorded
    # The code's opcodes are named int constants, which marshal does not
    # know: plain ints make the same code.
    pattern, flags, code, groups, groupindex, indexgroup = args
    return pattern, flags, [int(word) for word in code], groups, dict(groupindex), tuple(indexgroup)


def checked_patterns(patterns):
    """[(flags, _sre.compile arguments)] for each (pattern, flags) whose
    arguments make, through _sre.compile, what re.compile makes of it: the
    same code (pattern objects compare their code), flags, groups and group
    index. Any other is left out, with a message, and compiled as usual."""
    entries = []
    for pattern, flags in patterns:
        args = sre_compile_arguments(pattern, flags)
        seeded = _sre.compile(*args)
        compiled = re._compiler.compile(pattern, flags)
        if (seeded == compiled and seeded.flags == compiled.flags and seeded.groups == compiled.groups
                and seeded.groupindex == compiled.groupindex):
            entries.append((flags, args))
        else:
            print("freeze_modules: %a is not seeded: _sre.compile made another pattern of it"
                  % (pattern,))
    return entries


def compile_frozen(source, name):
    """`source` compiled as the module `name` of the table, under the file
    name that CPython gives its own frozen modules."""
    return compile(source, "<frozen %s>" % name, "exec", dont_inherit=True, optimize=0)


def main_interpreter_only(name):
    """The code that a deep-frozen module's entry carries for the
    interpreter's other users of the table, in place of its own: the
    interpreter takes a frozen module's code from `get_code` in the main
    interpreter only, and a subinterpreter (which the launcher never makes)
    unmarshals the entry's bytes. The module's own marshalled code would be
    dead weight there, and a costly one: the interpreter reads the first
    byte of an entry's code at each import, and the kernel maps the pages
    around every page it faults in, so the whole table of marshalled code
    would become resident."""
    return compile_frozen("raise ImportError(%r, name=%r)"
                          % ("%s is frozen into git-credential-kestrune for its main interpreter only"
                             % name, name), name)


def marshalled_code(symbol, label, data):
    """The C array `symbol` of marshalled code `data`, on pages of its own
    when it is large enough that kestrune_load_frozen_code gives them back."""
    return ("/* %s */\nstatic const unsigned char %s[%d]%s =\n    %s;\n"
            % (label, symbol, len(data) + 1,
               " __attribute__((aligned(%d)))" % PAGE_SIZE if released(data) else "",
               c_text(data)))


def released(data):
    return len(data) >= RELEASED_SIZE


def write_table(modules, static_objects, output, symbol="kestrune_frozen_modules", interpreter=()):
    """Writes the frozen-module table `symbol`: marshalled code for every
    module, and static code objects for each that `static_objects` (or None)
    can lay out; and the getters of the interpreter's own frozen modules
    `interpreter` (see interpreter_modules). Returns the names of the
    interpreter's modules laid out."""
    parts = [
        "/* Generated by launcher/freeze/freeze_modules.py from the standard library of\n"
        "   CPython %s at %s. Do not edit. */\n" % (sys.version.split()[0], sys._stdlib_dir),
        '#include "freeze/static_objects.h"\n' if static_objects else "#include <Python.h>\n",
        "PyObject* kestrune_load_frozen_code(const unsigned char* data, int size);\n",
    ]
    if static_objects:
        # The layouts the generator writes are those of the CPython it ran in.
        parts.append("_Static_assert(PY_VERSION_HEX == 0x%08x && PyLong_SHIFT == %d,\n"
                     '               "the static objects were laid out for CPython %s");\n'
                     % (sys.hexversion, sys.int_info.bits_per_digit, sys.version.split()[0]))
    entries, loaders = [], []
    for index, (name, package, origin) in enumerate(modules):
        with open(origin, "rb") as f:
            source = f.read()
        code = compile_frozen(source, name)
        data = marshal.dumps(code)
        get_code = "NULL"
        if static_objects:
            try:
                static_objects.module("module_%d_static" % index, code)
                get_code = "get_code_%d" % index
                loaders.append("static PyObject* %s(void)\n{\n"
                               "    return kestrune_deep_frozen_code(&module_%d_static);\n}\n"
                               % (get_code, index))
                data = marshal.dumps(main_interpreter_only(name))
            except CannotFreeze as why:
                print("freeze_modules: %s keeps its marshalled code: %s" % (name, why))
        parts.append(marshalled_code("module_%d" % index, name, data))
        if get_code == "NULL" and released(data):
            get_code = "get_code_%d" % index
            parts.append("static PyObject* %s(void)\n{\n"
                         "    return kestrune_load_frozen_code(module_%d, %d);\n}\n"
                         % (get_code, index, len(data)))
        entries.append('    {"%s", module_%d, %d, %d, %s},'
                       % (name, index, len(data), package, get_code))
    laid_out = []
    for getter_id, name, data, imported in interpreter:
        getter = "_Py_get_%s_toplevel" % getter_id
        loaders.append("PyObject* %s(void);\n" % getter)
        if imported:
            try:
                static_objects.module("interpreter_%s" % getter_id, marshal.loads(data))
                loaders.append("PyObject* %s(void)\n{\n"
                               "    return kestrune_deep_frozen_code(&interpreter_%s);\n}\n"
                               % (getter, getter_id))
                laid_out.append(name)
                continue
            except CannotFreeze as why:
                print("freeze_modules: the interpreter's %s keeps its marshalled code: %s" % (name, why))
        parts.append(marshalled_code("interpreter_%s" % getter_id, name, data))
        loaders.append("PyObject* %s(void)\n{\n"
                       "    return kestrune_load_frozen_code(interpreter_%s, %d);\n}\n"
                       % (getter, getter_id, len(data)))
    if static_objects:
        parts.append(static_objects.text())
    parts.extend(loaders)
    parts.append("const struct _frozen %s[] = {\n%s\n"
                 "    {NULL, NULL, 0, 0, NULL},\n};\n" % (symbol, "\n".join(entries)))
    write_if_changed(output, "\n".join(parts))
    return laid_out


def write_run_tables(extensions, patterns, output):
    """Writes the tables of the extension modules to load before the
    interpreter starts and of the patterns to seed re's cache with."""
    parts = [
        "/* Generated by launcher/freeze/freeze_modules.py from a run of CPython %s.\n"
        "   Do not edit. */\n#include <stddef.h>\n" % sys.version.split()[0],
        '#include "freeze/extension_table.h"\n'
        "const struct kestrune_extension_module kestrune_preloaded_extensions[] = {\n%s"
        "    {NULL, NULL, NULL},\n};\n"
        % "".join('    {"%s", "%s", "PyInit_%s"},\n'
                  % (name, os.path.basename(origin), name.rpartition(".")[2])
                  for name, origin in extensions),
    ]
    seeds = marshal.dumps((_sre.MAGIC, _sre.CODESIZE, tuple(checked_patterns(patterns))))
    parts.append('#include "freeze/seeded_patterns.h"\n'
                 "const unsigned char kestrune_seeded_patterns[%d] =\n    %s;\n"
                 "const int kestrune_seeded_patterns_size = %d;\n"
                 % (len(seeds) + 1, c_text(seeds), len(seeds)))
    write_if_changed(output, "\n".join(parts))


def write_sources(modules, output):
    write_if_changed(output, "".join("%s\t%s\n" % (name, origin) for name, _, origin in modules))


def main():
    arguments = sys.argv[1:]
    include_dir = symbol = None
    interpreter_ids = []
    if arguments[:1] == ["--check-interpreter-frozen"] and len(arguments) == 2:
        interpreter_modules(arguments[1].split(","), set())
        return
    if arguments[:1] == ["--deep-freeze"] and len(arguments) > 1:
        include_dir, arguments = arguments[1], arguments[2:]
    if include_dir and arguments[:1] == ["--interpreter-frozen"] and len(arguments) > 1:
        interpreter_ids, arguments = arguments[1].split(","), arguments[2:]
    if include_dir and arguments[:1] == ["--table"] and len(arguments) > 3:
        symbol, output_dir, arguments = arguments[1], arguments[2], arguments[3:]
        modules = [(name, False, source) for name, _, source in (a.partition("=") for a in arguments)]
    elif len(arguments) == 3:
        module_dir, output_dir, depfile = arguments
        modules, extensions, patterns, frozen = what_a_run_loads(os.path.abspath(module_dir))
    else:
        sys.exit(__doc__.split("\n\n")[1])
    static_objects = StaticObjects(include_dir) if include_dir else None
    output = os.path.join(output_dir, "frozen_modules.c")
    write_sources(modules, os.path.join(output_dir, "frozen_sources.txt"))
    if symbol:
        write_table(modules, static_objects, output, symbol)
        return
    laid_out = write_table(modules, static_objects, output,
                           interpreter=interpreter_modules(interpreter_ids, frozen))
    write_if_changed(os.path.join(output_dir, "interpreter_frozen.txt"),
                     "".join("%s\t%s\n" % (name, interpreter_source(name)) for name in laid_out))
    write_run_tables(extensions, patterns, os.path.join(output_dir, "run_tables.c"))
    write_depfile(modules, output, depfile)


if __name__ == "__main__":
    main()
