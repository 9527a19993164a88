"""Writes the launcher's table of frozen standard-library modules.

    python3.12 -I -S freeze_modules.py MODULE_DIR OUTPUT.c DEPFILE

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

The output is C: one byte string of marshalled code per module, and the
table `kestrune_frozen_modules`, ended by an entry of nulls. The code of a
module of RELEASED_SIZE bytes or more starts on a page of its own and is
loaded through `kestrune_load_frozen_code` (launcher/freeze/frozen_code.cpp), which
gives its pages back once the code object is made. The depfile names the
source files frozen, so that the build freezes them again when one of them
changes.
"""
import json
import marshal
import os
import subprocess
import sys
import tempfile

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
    if isinstance(origin, str) and origin.endswith(".py") and getattr(spec, "has_location", False):
        package = spec.submodule_search_locations is not None
        sys.stdout.write("%s\\t%d\\t%s\\n" % (name, package, origin))
"""

RELEASED_SIZE = 8192
PAGE_SIZE = 4096

REQUEST = "protocol=https\nhost=github.com\n\n"
ANSWER = "username=x-access-token\npassword=freeze\n\n"


def modules_a_run_imports(module_dir):
    """[(name, is_package, source path)] of the standard-library modules that
    a run imports from source files."""
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
    stdlib = os.path.realpath(sys._stdlib_dir) + os.sep
    modules = []
    for line in listing.splitlines():
        name, package, origin = line.split("\t")
        if os.path.realpath(origin).startswith(stdlib):
            modules.append((name, package == "1", origin))
    if not modules:
        sys.exit("freeze_modules: the probe run imported no standard-library source module")
    return modules


def c_bytes(data):
    """`data` as the lines of a C string literal."""
    lines = []
    for start in range(0, len(data), 32):
        chunk = data[start:start + 32]
        lines.append('    "' + "".join("\\x%02x" % b for b in chunk) + '"')
    return "\n".join(lines)


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


def write_table(modules, output):
    parts = [
        "/* Generated by launcher/freeze/freeze_modules.py from the standard library of\n"
        "   CPython %s at %s. Do not edit. */\n" % (sys.version.split()[0], sys._stdlib_dir),
        "#include <Python.h>\n",
        "PyObject* kestrune_load_frozen_code(const unsigned char* data, int size);\n",
    ]
    entries = []
    for index, (name, package, origin) in enumerate(modules):
        with open(origin, "rb") as f:
            source = f.read()
        code = compile(source, "<frozen %s>" % name, "exec", dont_inherit=True, optimize=0)
        data = marshal.dumps(code)
        released = len(data) >= RELEASED_SIZE
        parts.append("/* %s */\nstatic const unsigned char module_%d[%d]%s =\n%s;\n"
                     % (name, index, len(data) + 1,
                        " __attribute__((aligned(%d)))" % PAGE_SIZE if released else "",
                        c_bytes(data)))
        get_code = "NULL"
        if released:
            get_code = "get_code_%d" % index
            parts.append("static PyObject* %s(void)\n{\n"
                         "    return kestrune_load_frozen_code(module_%d, %d);\n}\n"
                         % (get_code, index, len(data)))
        entries.append('    {"%s", module_%d, %d, %d, %s},'
                       % (name, index, len(data), package, get_code))
    parts.append("const struct _frozen kestrune_frozen_modules[] = {\n%s\n"
                 "    {NULL, NULL, 0, 0, NULL},\n};\n" % "\n".join(entries))
    write_if_changed(output, "\n".join(parts))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.split("\n\n")[1])
    module_dir, output, depfile = sys.argv[1:]
    modules = modules_a_run_imports(os.path.abspath(module_dir))
    write_table(modules, output)
    write_depfile(modules, output, depfile)


if __name__ == "__main__":
    main()
