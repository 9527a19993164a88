"""What the dynamic loader must map before the helper's code runs.

Each shared library that a file needs costs its load at every start; the C++
runtime alone doubled the module's import time (bench P4). The module file
and the launcher may need the C library, CPython's and nothing else.
"""
import os
import subprocess
import unittest

ALLOWED = ("libc.so", "libm.so", "libpython3.12.so", "ld-linux")


def needed(path):
    """The DT_NEEDED entries of an ELF file, read with readelf."""
    out = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
    return [line.split("[", 1)[1].rstrip("]") for line in out.splitlines() if "(NEEDED)" in line]


class LoadDependencies(unittest.TestCase):
    def check(self, variable):
        path = os.environ.get(variable)
        if not path:
            self.skipTest("%s is not set" % variable)
        libraries = needed(path)
        self.assertTrue(libraries, path)
        for library in libraries:
            self.assertTrue(library.startswith(ALLOWED), "%s needs %s" % (path, library))

    def test_module_file(self):
        self.check("KESTRUNE_MODULE_FILE")

    def test_launcher(self):
        self.check("KESTRUNE_LAUNCHER")


if __name__ == "__main__":
    unittest.main()
