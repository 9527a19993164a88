"""One shared type object for every module of this kind.

_kestrune_test_functions and _kestrune_test_functions_twin are the same source
built twice, each with its own static copy of runtime/: two independent
extension modules that share "_native_abi_1".
"""
import sys
import unittest

import support
import _kestrune_test_functions as m


def run(source):
    return support.run_python(source)


class SharedTypeTest(unittest.TestCase):
    def test_the_shared_module_holds_both_types(self):
        shared = sys.modules["_native_abi_1"]
        self.assertIs(shared.native_function_or_method, m.function_type)
        self.assertIs(shared._common_types_metatype, m.metatype)
        self.assertIs(type(m.function_type), m.metatype)
        self.assertEqual(m.metatype.__mro__, (m.metatype, type, object))
        self.assertEqual(m.function_type.__mro__, (m.function_type, object))

    def test_a_second_module_gets_the_very_same_type_object(self):
        import _kestrune_test_functions_twin as twin
        self.assertIs(twin.function_type, m.function_type)
        self.assertIs(twin.metatype, m.metatype)
        self.assertIs(type(twin.noargs), type(m.noargs))
        # Each module's functions work through the shared type.
        self.assertEqual(twin.noargs(), ("noargs", twin.noargs, True))
        self.assertEqual(m.call_slot(twin.o, (1,)), ("o", twin.o, 1))
        self.assertEqual(twin.call_slot(m.o, (1,)), ("o", m.o, 1))
        self.assertEqual(repr(twin.noargs), "<native function noargs at %#x>" % id(twin.noargs))

    def test_sharing_in_either_import_order(self):
        for first, second in (("_kestrune_test_functions_twin", "_kestrune_test_functions"),
                              ("_kestrune_test_functions", "_kestrune_test_functions_twin")):
            result = run(
                "import sys, {0} as a, {1} as b\n"
                "assert a.function_type is b.function_type\n"
                "assert type(a.noargs) is type(b.noargs)\n"
                "assert sys.modules['_native_abi_1'].native_function_or_method is a.function_type\n"
                "print('shared')\n".format(first, second))
            self.assertEqual(result.stdout, "shared\n", result.stderr)

    def test_a_registered_non_type_fails_the_exec(self):
        for key, short in (("native_function_or_method", "native_function_or_method"),
                           ("_common_types_metatype", "_common_types_metatype")):
            result = run(
                "import sys, types\n"
                "shared = types.ModuleType('_native_abi_1')\n"
                "setattr(shared, {0!r}, 5)\n"
                "sys.modules['_native_abi_1'] = shared\n"
                "try:\n"
                "    import _kestrune_test_functions\n"
                "except TypeError as e:\n"
                "    print(e)\n".format(key))
            self.assertEqual(result.stdout,
                             "Shared native type %s is not a type object\n" % short,
                             result.stderr)

    def test_a_registered_type_of_another_size_fails_the_exec(self):
        result = run(
            "import sys, types\n"
            "shared = types.ModuleType('_native_abi_1')\n"
            "class Other: pass\n"
            "shared.native_function_or_method = Other\n"
            "sys.modules['_native_abi_1'] = shared\n"
            "try:\n"
            "    import _kestrune_test_functions\n"
            "except TypeError as e:\n"
            "    print(e)\n")
        self.assertEqual(
            result.stdout,
            "Shared native type native_function_or_method has the wrong size, try recompiling\n",
            result.stderr)


class MainModuleTest(unittest.TestCase):
    """The real module and a test module share the type (when the real module
    creates its function objects)."""

    def test_the_main_module_and_a_test_module_share_the_type(self):
        import git_credential_kestrune as main
        if not hasattr(main, "cmd_get"):
            self.skipTest("git_credential_kestrune does not create its function objects yet "
                          "(no cmd_get): its module body has not landed")
        for first, second in (("git_credential_kestrune", "_kestrune_test_functions"),
                              ("_kestrune_test_functions", "git_credential_kestrune")):
            result = run(
                "import {0}, {1}\n"
                "import git_credential_kestrune as main, _kestrune_test_functions as t\n"
                "names = ('_read_token', '_parse_input', 'cmd_get', 'cmd_store', 'cmd_erase')\n"
                "assert all(type(getattr(main, n)) is t.function_type for n in names)\n"
                "assert type(main.cmd_get) is type(t.noargs)\n"
                "print('shared')\n".format(first, second))
            self.assertEqual(result.stdout, "shared\n", result.stderr)


if __name__ == "__main__":
    unittest.main()
