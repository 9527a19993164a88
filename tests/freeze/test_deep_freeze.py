"""What the build's deep freezing refuses: a module holding an object that
cannot be laid out statically keeps its marshalled code, and nothing of it
is written. (What it lays out is checked against the compiler by
test_deep_frozen_code.cpp.)

    python3.12 -I test_deep_freeze.py LAUNCHER_SOURCE_DIR INCLUDE_DIR
"""
import sys
import unittest

sys.path.insert(0, sys.argv.pop(1) + "/launcher/freeze")
INCLUDE_DIR = sys.argv.pop(1)

import deep_freeze  # noqa: E402


def module_holding(constant):
    code = compile("def f():\n    return 0\n", "<frozen sample>", "exec")
    function = code.co_consts[0]
    function = function.replace(co_consts=function.co_consts + (constant,))
    return code.replace(co_consts=(function,) + code.co_consts[1:])


class Refusals(unittest.TestCase):
    def test_a_module_that_cannot_be_laid_out_writes_nothing(self):
        cases = [
            ("a constant of type bytearray", bytearray(b"x")),
            ("a constant of type str_subclass", type("str_subclass", (str,), {})("x")),
            ("a frozenset that holds a frozenset", frozenset({frozenset({1})})),
            ("a str of %d bytes" % (deep_freeze.LARGEST_OBJECT + 1), "x" * (deep_freeze.LARGEST_OBJECT + 1)),
        ]
        for reason, constant in cases:
            with self.subTest(reason):
                objects = deep_freeze.StaticObjects(INCLUDE_DIR)
                objects.module("first", module_holding("shared text"))
                before = (objects.text(), dict(objects.names))
                with self.assertRaises(deep_freeze.CannotFreeze) as refused:
                    objects.module("second", module_holding(constant))
                self.assertEqual(str(refused.exception), reason)
                self.assertEqual((objects.text(), objects.names), before)


if __name__ == "__main__":
    unittest.main()
