"""Shared helpers for the Python-side tests.

The tests run under python3.12 with the built module's directory taken from
KESTRUNE_MODULE_DIR (set by ctest). Scenarios that need a fresh interpreter
run in a subprocess of their own through `run_python`.
"""
import os
import subprocess
import sys

MODULE_DIR = os.environ.get("KESTRUNE_MODULE_DIR", "")
MODULE_FILE = os.environ.get("KESTRUNE_MODULE_FILE", "")
PYTHON = os.environ.get("KESTRUNE_PYTHON", sys.executable)
SOURCE_DIR = os.environ.get("KESTRUNE_SOURCE_DIR", "")
BINARY_DIR = os.environ.get("KESTRUNE_BINARY_DIR", "")
# The test-only modules built from runtime/ (_kestrune_test_functions and
# _kestrune_test_functions_twin).
TEST_MODULE_DIR = os.environ.get("KESTRUNE_TEST_MODULE_DIR", "")

for _dir in (TEST_MODULE_DIR, MODULE_DIR):
    if _dir and _dir not in sys.path:
        sys.path.insert(0, _dir)


def run_python(source, *, env=None, input=None, args=()):
    """Runs `source` in a fresh python3.12 that can import the module.

    Returns the CompletedProcess with stdout and stderr as text.
    """
    full_env = dict(os.environ)
    full_env["PYTHONPATH"] = os.pathsep.join(d for d in (MODULE_DIR, TEST_MODULE_DIR) if d)
    if env:
        full_env.update(env)
    return subprocess.run(
        [PYTHON, "-c", source, *args],
        input=input, env=full_env, capture_output=True, text=True, timeout=120)
