"""What the dynamic loader must map before the helper's code runs.

Each shared library that a file needs costs its load at every start; the C++
runtime alone doubled the module's import time (bench P4). The module file
may need the C library and nothing else: it is loaded by a python, whose
interpreter it uses. The launcher of an optimised build has the interpreter
linked in: it needs no libpython3.12.so (only libz, which the zlib module
of every run needs), stays a position-independent executable (address
randomisation), and exports the interpreter's functions to the extension
modules it loads from lib-dynload.
"""
import os
import subprocess
import unittest

ALLOWED = ("libc.so", "libm.so", "libpython3.12.so", "ld-linux")
STATIC_LAUNCHER = os.environ.get("KESTRUNE_STATIC_LAUNCHER") == "ON"


def readelf(option, path):
    return subprocess.run(["readelf", "-W", option, path], capture_output=True, text=True,
                          check=True).stdout


def needed(path):
    """The DT_NEEDED entries of an ELF file."""
    return [line.split("[", 1)[1].rstrip("]") for line in readelf("-d", path).splitlines()
            if "(NEEDED)" in line]


class LoadDependencies(unittest.TestCase):
    def check(self, variable, allowed):
        path = os.environ.get(variable)
        if not path:
            self.skipTest("%s is not set" % variable)
        libraries = needed(path)
        self.assertTrue(libraries, path)
        for library in libraries:
            self.assertTrue(library.startswith(allowed), "%s needs %s" % (path, library))
        return path

    def test_module_file(self):
        self.check("KESTRUNE_MODULE_FILE", tuple(a for a in ALLOWED if "python" not in a))

    def test_launcher(self):
        if not STATIC_LAUNCHER:
            self.check("KESTRUNE_LAUNCHER", ALLOWED)
            return
        # libz.so.1 is loaded up front for the zlib module that every run
        # imports.
        path = self.check("KESTRUNE_LAUNCHER",
                          tuple(a for a in ALLOWED if "python" not in a) + ("libz.so",))
        self.assertIn("DYN (Position-Independent Executable file)", readelf("-h", path))
        self.assertRegex(readelf("-d", path), r"\(FLAGS_1\)\s+Flags:.*\bPIE\b")
        exported = {line.split()[-1] for line in readelf("--dyn-syms", path).splitlines()
                    if " GLOBAL " in line and " UND " not in line}
        # What zlib and _json call back into.
        for name in ("PyModule_Create2", "PyBytes_FromStringAndSize", "_Py_Dealloc",
                     "PyExc_ValueError", "_PyArg_UnpackKeywords"):
            self.assertIn(name, exported)


if __name__ == "__main__":
    unittest.main()
