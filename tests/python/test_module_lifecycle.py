"""Import, re-import and failed imports of the module, each in a fresh
interpreter."""
import textwrap
import unittest

import support

PRELUDE = textwrap.dedent("""\
    import importlib.util, sys, traceback
    def entries(exc):
        return [(f.filename, f.name, f.lineno) for f in traceback.extract_tb(exc.__traceback__)]
    """)


def run(source, **kwargs):
    return support.run_python(PRELUDE + textwrap.dedent(source), **kwargs)


class ModuleLifecycleTest(unittest.TestCase):
    def assertRuns(self, source, expected_stdout="", **kwargs):
        result = run(source, **kwargs)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, expected_stdout)
        return result

    def test_reimport_returns_the_same_module_and_functions(self):
        self.assertRuns("""
            import git_credential_kestrune as m
            get, doc = m.cmd_get, m.__doc__
            m.marker = 1
            del sys.modules["git_credential_kestrune"]
            import git_credential_kestrune as again
            assert again is m and again.cmd_get is get and again.marker == 1
            assert sys.modules["scripts.git_credential_kestrune"] is m
            assert "native_runtime" in sys.modules
            assert m.__builtins__ is sys.modules["builtins"]
            print("ok")
            """, "ok\n")

    SUBINTERPRETER_IMPORT = """
        import _xxsubinterpreters as interpreters
        # A legacy subinterpreter: the isolated kind refuses the module before
        # its own create step runs.
        interp = interpreters.create(isolated=False)
        interpreters.run_string(interp, "\\n".join([
            "import sys",
            "sys.path[:0] = %r" % (sys.path[:1],),
            "try:",
            "    import git_credential_kestrune",
            "except ImportError as e:",
            "    message = str(e)",
            "else:",
            "    message = 'imported'",
            "assert message == 'Interpreter change detected - this module can only be loaded "
            "into one interpreter per process.', message",
        ]))
        interpreters.destroy(interp)
        """

    def test_import_in_a_subinterpreter_is_refused(self):
        self.assertRuns(
            "import git_credential_kestrune as m\n"
            + textwrap.dedent(self.SUBINTERPRETER_IMPORT)
            + "assert m.cmd_store() is None\n")

    def test_subinterpreter_refused_after_a_failed_first_import(self):
        self.assertRuns(
            textwrap.dedent("""\
                sys.modules["zlib"] = None
                try:
                    import git_credential_kestrune
                except ImportError:
                    pass
                del sys.modules["zlib"]
                """)
            + textwrap.dedent(self.SUBINTERPRETER_IMPORT)
            + "import git_credential_kestrune as m\nassert m.cmd_store() is None\n")

    def test_executing_a_second_module_object_is_refused(self):
        self.assertRuns("""
            spec = importlib.util.find_spec("git_credential_kestrune")
            first = importlib.util.module_from_spec(spec)
            second = importlib.util.module_from_spec(spec)
            assert first is not second
            spec.loader.exec_module(first)
            try:
                spec.loader.exec_module(second)
            except RuntimeError as e:
                assert str(e) == ("Module 'git_credential_kestrune' has already been imported. "
                                  "Re-initialisation is not supported."), str(e)
            else:
                raise AssertionError("second exec succeeded")
            spec.loader.exec_module(first)  # the bound module: nothing runs again
            assert importlib.util.module_from_spec(spec) is first
            """)

    def test_spec_attributes_copied_by_the_create_step(self):
        self.assertRuns("""
            spec = importlib.util.find_spec("git_credential_kestrune")
            spec.submodule_search_locations = None
            m = importlib.util.module_from_spec(spec)
            assert "__path__" not in vars(m)
            assert m.__file__ == spec.origin and m.__loader__ is spec.loader
            """)

    def test_body_failure_carries_its_init_entry_and_a_retry_succeeds(self):
        self.assertRuns("""
            class NoJson:
                def find_spec(self, name, path=None, target=None):
                    if name == "json":
                        raise ImportError("json blocked")
            for name in [n for n in sys.modules if n == "json" or n.startswith("json.")]:
                del sys.modules[name]
            sys.meta_path.insert(0, NoJson())
            try:
                import git_credential_kestrune
            except ImportError as e:
                assert str(e) == "json blocked"
                assert entries(e)[1] == ("scripts/git-credential-kestrune",
                                         "init scripts.git_credential_kestrune", 19), entries(e)
            else:
                raise AssertionError("import succeeded")
            failed = sys.modules["scripts.git_credential_kestrune"]
            del sys.meta_path[0]
            import git_credential_kestrune as m
            assert m is not failed and m.cmd_get.__module__ == "scripts.git_credential_kestrune"
            assert sys.modules["scripts.git_credential_kestrune"] is failed
            """)

    def test_decompress_result_other_than_bytes_is_a_type_error(self):
        # A stand-in zlib whose result has the right length but is no bytes
        # object: the constant table must not read it as one.
        self.assertRuns("""
            import types, zlib
            for label, convert in [("bytearray", bytearray),
                                   ("str", lambda b: b.decode("latin-1")),
                                   ("None", lambda b: None),
                                   ("bytes subclass", type("B", (bytes,), {}))]:
                fake = types.ModuleType("zlib")
                fake.decompress = lambda data, convert=convert: convert(zlib.decompress(data))
                sys.modules["zlib"] = fake
                try:
                    import git_credential_kestrune
                except TypeError as e:
                    assert str(e).startswith("constant table: zlib.decompress returned "), str(e)
                else:
                    raise AssertionError(label + ": imported")
                finally:
                    sys.modules["zlib"] = zlib
                    sys.modules.pop("git_credential_kestrune", None)
            import git_credential_kestrune as m
            assert m.CONFIG_PATH.endswith("/.kestrune/config.json")
            """)

    def test_unreachable_zlib_gives_the_exact_import_error(self):
        self.assertRuns("""
            sys.modules["zlib"] = None
            try:
                import git_credential_kestrune
            except ImportError as e:
                assert str(e) == ("Failed to import 'zlib.decompress' - cannot initialise module "
                                  "strings. String compression was configured with the C macro "
                                  "'NATIVE_COMPRESS_STRINGS=1'."), str(e)
                assert not any(name.startswith("init ") for _, name, _ in entries(e))
            else:
                raise AssertionError("import succeeded")
            """)

    def test_no_version_warning_on_3_12(self):
        self.assertRuns("""
            import warnings
            warnings.simplefilter("error")
            import git_credential_kestrune
            """)

    def test_command_failure_during_dispatch(self):
        self.assertRuns("""
            spec = importlib.util.find_spec("git_credential_kestrune")
            m = importlib.util.module_from_spec(spec)
            m.__name__ = "__main__"
            sys.argv = ["helper", "get"]
            sys.stdin = None
            try:
                spec.loader.exec_module(m)
            except TypeError as e:
                assert entries(e)[-3:] == [
                    ("scripts/git-credential-kestrune", "init scripts.git_credential_kestrune", 70),
                    ("scripts/git-credential-kestrune", "scripts.git_credential_kestrune.cmd_get", 44),
                    ("scripts/git-credential-kestrune", "scripts.git_credential_kestrune._parse_input", 34),
                ], entries(e)
            else:
                raise AssertionError("exec succeeded")
            """)

    def test_dispatch_without_argv_fails_at_line_68(self):
        self.assertRuns("""
            spec = importlib.util.find_spec("git_credential_kestrune")
            m = importlib.util.module_from_spec(spec)
            m.__name__ = "__main__"
            del sys.argv
            try:
                spec.loader.exec_module(m)
            except AttributeError as e:
                assert entries(e)[-1][1:] == ("init scripts.git_credential_kestrune", 68), entries(e)
            else:
                raise AssertionError("exec succeeded")
            """)


class DispatchTest(unittest.TestCase):
    """The module executed as __main__ with a command line."""

    SOURCE = """
        import io
        spec = importlib.util.find_spec("git_credential_kestrune")
        m = importlib.util.module_from_spec(spec)
        m.__name__ = "__main__"
        sys.argv = ARGV
        stdin = sys.stdin = io.StringIO("host=github.com\\n\\n")
        import builtins
        spec.loader.exec_module(m)
        print(repr(getattr(m, "action", None)), stdin.tell())
        """

    def dispatch(self, argv, home):
        result = run(self.SOURCE.replace("ARGV", repr(argv)), env={"HOME": home})
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_action_words(self):
        import json
        import os
        import tempfile
        with tempfile.TemporaryDirectory() as home:
            os.mkdir(os.path.join(home, ".kestrune"))
            with open(os.path.join(home, ".kestrune", "config.json"), "w") as f:
                json.dump({"github_token": "tok"}, f)
            answer = "username=x-access-token\npassword=tok\n\n"
            self.assertEqual(self.dispatch(["h"], home), answer + "'get' 17\n")
            self.assertEqual(self.dispatch(["h", "get", "extra"], home), answer + "'get' 17\n")
            self.assertEqual(self.dispatch(["h", "store"], home), "'store' 0\n")
            self.assertEqual(self.dispatch(["h", "erase"], home), "'erase' 0\n")
            self.assertEqual(self.dispatch(["h", "GET"], home), "'GET' 0\n")
            self.assertEqual(self.dispatch(["h", ""], home), "'' 0\n")

    def test_plain_import_binds_no_action_and_reads_nothing(self):
        result = run("""
            import io
            sys.stdin = io.StringIO("host=github.com\\n")
            import git_credential_kestrune as m
            assert not hasattr(m, "action") and sys.stdin.tell() == 0
            assert m.__test__ == {}
            """)
        self.assertEqual((result.returncode, result.stdout), (0, ""), result.stderr)


if __name__ == "__main__":
    unittest.main()
