"""What an import of the module binds, and how its functions and their code
objects look to Python."""
import ast
import json
import os
import sys
import unittest

import support
import git_credential_kestrune as helper

FUNCTIONS = ["_read_token", "_parse_input", "cmd_get", "cmd_store", "cmd_erase"]

DOC = (
    "Kestrune git credential helper.\n"
    "\n"
    "Implements the git credential helper protocol:\n"
    "  - On `get`: reads ~/.kestrune/config.json, returns the saved github_token\n"
    "    as the password (with username=x-access-token, which is what GitHub\n"
    "    expects for PAT/OAuth tokens).\n"
    "  - On `store` / `erase`: no-op (we don't store credentials in this helper;\n"
    "    the source of truth is always config.json).\n"
    "\n"
    "This ensures that EVERY git invocation (push, pull, fetch, clone, terminal\n"
    "git, /api/git/* endpoints, CLI git) uses the SAME current token from\n"
    "config.json \u2014 never a stale token from .git/config or ~/.git-credentials.\n"
    "\n"
    "Install with:\n"
    "  git config --global credential.helper \"python3 /path/to/git-credential-kestrune\"\n"
    "  (or use the ! prefix form for absolute path resolution)\n")


class NamespaceTest(unittest.TestCase):
    def test_globals(self):
        self.assertIs(helper.sys, sys)
        self.assertIs(helper.os, os)
        self.assertIs(helper.json, json)
        self.assertEqual(helper.CONFIG_PATH, os.path.expanduser("~/.kestrune/config.json"))
        self.assertEqual(helper.__test__, {})
        self.assertFalse(hasattr(helper, "action"))
        self.assertEqual(helper.__doc__, DOC)
        self.assertEqual(helper.__name__, "git_credential_kestrune")

    def test_functions(self):
        docs = {"_parse_input": "_parse_input()\n\nParse the key=value lines git sends on stdin."}
        types = {type(getattr(helper, name)) for name in FUNCTIONS}
        self.assertEqual(len(types), 1)
        self.assertEqual(types.pop().__module__, "_native_abi_1")
        for name in FUNCTIONS:
            f = getattr(helper, name)
            with self.subTest(name):
                self.assertEqual(f.__name__, name)
                self.assertEqual(f.__qualname__, name)
                self.assertEqual(f.__doc__, docs.get(name, name + "()"))
                self.assertEqual(f.__module__, "scripts.git_credential_kestrune")
                self.assertIs(f.__globals__, vars(helper))
                self.assertIsNone(f.__closure__)
                self.assertIsNone(f.__defaults__)
                self.assertIsNone(f.__kwdefaults__)
                self.assertEqual(f.__annotations__, {})
                self.assertIs(f._is_coroutine, False)
                self.assertEqual(f.__reduce__(), name)
                self.assertTrue(repr(f).startswith("<native function %s at 0x" % name))
        self.assertIsNot(helper.cmd_store, helper.cmd_erase)

    def test_code_objects(self):
        expected = {
            "_read_token": (23, ("f", "cfg"), 116, set(range(23, 30))),
            "_parse_input": (31, ("data", "line", "k", "_", "v"), 164, {31} | set(range(33, 42))),
            "cmd_get": (43, ("data", "host", "token"), 156,
                        {43, 44, 45, 47, 48, 49, 50, 51, 54, 55, 56}),
            "cmd_store": (58, (), 8, {58}),
            "cmd_erase": (62, (), 8, {62}),
        }
        for name, (first, varnames, code_len, lines) in expected.items():
            code = getattr(helper, name).__code__
            with self.subTest(name):
                self.assertEqual(code.co_filename, "scripts/git-credential-kestrune")
                self.assertEqual((code.co_name, code.co_qualname), (name, name))
                self.assertEqual(code.co_firstlineno, first)
                self.assertEqual(code.co_varnames, varnames)
                self.assertEqual((code.co_argcount, code.co_posonlyargcount,
                                  code.co_kwonlyargcount), (0, 0, 0))
                self.assertEqual(code.co_flags, 3)
                self.assertEqual(len(code.co_code), code_len)
                self.assertEqual({line for _, _, line in code.co_lines()}, lines)
        # Equal variable-name tuples are one object.
        self.assertIs(helper._read_token.__code__.co_varnames[0:0], ())
        self.assertIs(helper.cmd_store.__code__.co_varnames, helper.cmd_erase.__code__.co_varnames)

    def test_pickling_by_reference(self):
        import pickle
        import types
        # The functions name their module by its qualified path, so pickle
        # needs its package to be importable.
        sys.modules.setdefault("scripts", types.ModuleType("scripts"))
        self.assertIs(pickle.loads(pickle.dumps(helper.cmd_get)), helper.cmd_get)


class TypeStubTest(unittest.TestCase):
    """scripts/git_credential_kestrune.pyi, installed beside the module, is
    what type checkers and editors see of it."""

    def setUp(self):
        path = os.path.join(support.SOURCE_DIR, "scripts", "git_credential_kestrune.pyi")
        with open(path, encoding="utf-8") as f:
            self.stub = ast.parse(f.read(), path)

    def stub_names(self):
        names = {}
        for node in self.stub.body:
            if isinstance(node, ast.FunctionDef):
                names[node.name] = node
            elif isinstance(node, ast.AnnAssign):
                names[node.target.id] = node
            elif isinstance(node, ast.Import):
                for alias in node.names:
                    # Only `import x as x` re-exports a name from a stub.
                    if alias.asname == alias.name:
                        names[alias.name] = node
        return names

    def test_the_stub_names_what_the_module_binds(self):
        bound = {name for name in vars(helper) if not name.startswith("__")}
        self.assertEqual(set(self.stub_names()), bound)

    def test_functions_take_no_arguments_and_return_what_the_stub_says(self):
        returns = {name: ast.unparse(node.returns) for name, node in self.stub_names().items()
                   if isinstance(node, ast.FunctionDef)}
        self.assertEqual(returns, {"_read_token": "object", "_parse_input": "dict[str, str]",
                                   "cmd_get": "None", "cmd_store": "None", "cmd_erase": "None"})
        for name, node in self.stub_names().items():
            if isinstance(node, ast.FunctionDef):
                self.assertEqual(ast.unparse(node.args), "", name)
        self.assertEqual(ast.unparse(self.stub_names()["CONFIG_PATH"].annotation), "str")
        self.assertIsInstance(helper.CONFIG_PATH, str)


if __name__ == "__main__":
    unittest.main()
