"""The module file as the interpreter's loader sees it."""
import os
import subprocess
import sysconfig
import unittest

import support


class ModuleFileTest(unittest.TestCase):
    def test_file_name_carries_the_interpreter_suffix(self):
        self.assertEqual(
            os.path.basename(support.MODULE_FILE),
            "git_credential_kestrune" + sysconfig.get_config_var("EXT_SUFFIX"))

    def test_exports_exactly_the_entry_point(self):
        out = subprocess.run(
            ["nm", "-D", "--defined-only", support.MODULE_FILE],
            capture_output=True, text=True, check=True).stdout
        names = [line.split()[-1] for line in out.splitlines()
                 if line.split() and line.split()[-2] in ("T", "D", "B", "R", "W", "V", "i", "u")]
        self.assertEqual(names, ["PyInit_git_credential_kestrune"])


if __name__ == "__main__":
    unittest.main()
