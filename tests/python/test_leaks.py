"""Every path through the module's functions, taken tens of thousands of
times, leaves no memory behind.

Each scenario drives one function down one path: a success, an answer
withheld, an exception that `_read_token` handles, or a failure that passes
up and records traceback entries (the line of each is checked on the first
call, so a scenario cannot quietly drift onto another path). After a warm-up
that fills the interpreter's caches and the module's code-object cache, the
scenario runs ROUNDS more times; the interpreter's allocated blocks and the
objects the garbage collector tracks must stay where they were. A lost
reference on any path would grow both by at least one per call.

With PYTHONMALLOC=malloc (the sanitize preset) the interpreter counts no
blocks, so only the live objects are compared there.
"""
import contextlib
import gc
import io
import json
import os
import sys
import tempfile
import traceback
import unittest

import support  # noqa: F401  (puts the built module on sys.path)
import git_credential_kestrune as helper

ROUNDS = 20_000
WARM_UP = 1_000
# Freelists, caches and dictionaries of the interpreter still settle after
# the warm-up, by an amount that depends on the hash seed (up to about 150
# blocks over ROUNDS calls of one scenario seen here); one lost block per call
# would be ROUNDS.
BLOCK_SLACK = ROUNDS // 50

REQUEST = "protocol=https\nhost=github.com\npath=o/r.git\n\n"
ENTRY = "scripts.git_credential_kestrune."
DELETE = object()


class Discard:
    """A standard output that drops what it is given."""

    def write(self, text):
        return len(text)

    def flush(self):
        pass


class FailingWrites(Discard):
    """A standard output whose `n`th write (from 1) raises OSError."""

    def __init__(self, n):
        self.n = n
        self.count = 0

    def write(self, text):
        self.count += 1
        if self.count == self.n:
            raise OSError("write failed")
        return len(text)


class Returns:
    """Stands in for a module global: calling it returns `value` or raises."""

    def __init__(self, value=None, raises=None):
        self.value, self.raises = value, raises

    def __call__(self):
        if self.raises:
            raise self.raises  # a class: a new exception at every call
        return self.value


class RaisingGet:
    """A parsed config or request whose get() raises for `failing_key`."""

    def __init__(self, failing_key, exc, values=()):
        self.failing_key, self.exc, self.values = failing_key, exc, dict(values)

    def get(self, key, default=None):
        if key == self.failing_key:
            raise self.exc
        return self.values.get(key, default)


class JsonReturning:
    """Stands in for the json module; load() returns `cfg` or raises."""

    def __init__(self, cfg=None, raises=None):
        self.cfg, self.raises = cfg, raises

    def load(self, f):
        if self.raises:
            raise self.raises
        return self.cfg


class FspathRaises:
    def __fspath__(self):
        raise KeyboardInterrupt


class Unequal:
    """A line whose comparison with "" raises."""

    def __eq__(self, other):
        raise ValueError("cannot compare")

    __hash__ = None


class NoContains:
    """A line that compares unequal to "" and cannot answer `in`."""

    def __eq__(self, other):
        return False

    __hash__ = None


class Line(str):
    """A stdin line whose rstrip() and partition() give chosen results."""

    def __new__(cls, rstripped=None, parts=None):
        self = str.__new__(cls, "k=v\n")
        self.rstripped, self.parts = rstripped, parts
        return self

    def rstrip(self, chars):
        return self if self.rstripped is None else self.rstripped

    def partition(self, sep):
        return self.parts


class Key:
    """A key whose strip() raises, or returns something unhashable."""

    def __init__(self, unhashable):
        self.unhashable = unhashable

    def strip(self):
        if self.unhashable:
            return []
        raise ValueError("cannot strip")


class Falsy:
    def __bool__(self):
        raise ValueError("no truth value")


class Unformattable:
    def __bool__(self):
        return True

    def __format__(self, spec):
        raise ValueError("no text")


class TokenSubclass(str):
    pass


def failing_lines():
    yield "host=github.com\n"
    raise KeyError("read failed")


class LeakTest(unittest.TestCase):
    growth = {}

    @classmethod
    def tearDownClass(cls):
        # The figures, for whoever reads the test log.
        width = max(map(len, cls.growth))
        for name, (blocks, objects) in sorted(cls.growth.items()):
            print(f"{name:<{width}}  blocks {blocks:+d}  objects {objects:+d}", file=sys.stderr)

    @contextlib.contextmanager
    def scenario(self, label=None):
        """A config file holding a token, CONFIG_PATH pointing at it, stdout
        discarded; every change made through patch() is undone on leaving."""
        with contextlib.ExitStack() as stack, self.subTest(label):
            self.stack = stack
            self.dir = stack.enter_context(tempfile.TemporaryDirectory())
            self.config = os.path.join(self.dir, "config.json")
            self.write_config(json.dumps({"github_token": "ghp_token"}))
            self.patch(helper, "CONFIG_PATH", self.config)
            self.patch(sys, "stdin", sys.stdin)
            self.patch(sys, "stdout", Discard())
            yield

    def write_config(self, data):
        with open(self.config, "wb" if isinstance(data, bytes) else "w") as f:
            f.write(data)

    def patch(self, target, name, value):
        saved = getattr(target, name)
        self.stack.callback(setattr, target, name, saved)
        if value is DELETE:
            delattr(target, name)
        else:
            setattr(target, name, value)

    def assertSettles(self, name, function, *, stdin=None, stdout=None, result=None,
                      raises=None, entries=()):
        """Calls `function` WARM_UP + ROUNDS times with a fresh stdin (from
        the `stdin` factory) and stdout (from the `stdout` factory) each time;
        checks the first call's outcome, its traceback entries in the module,
        and the growth over the ROUNDS."""

        def call():
            if stdin is not None:
                sys.stdin = stdin()
            if stdout is not None:
                sys.stdout = stdout()
            try:
                return function(), None
            except BaseException as e:  # noqa: B902 - KeyboardInterrupt is a scenario
                return None, e

        value, raised = call()
        if raises is None:
            self.assertIsNone(raised, name)
            self.assertEqual(value, result, name)
        else:
            self.assertIsInstance(raised, raises, name)
            found = [(f.name, f.lineno) for f in traceback.extract_tb(raised.__traceback__)
                     if f.name.startswith(ENTRY)]
            self.assertEqual(found, [(ENTRY + f, line) for f, line in entries], name)
        del raised

        for _ in range(WARM_UP):
            call()
        gc.collect()
        blocks, objects = sys.getallocatedblocks(), len(gc.get_objects())
        for _ in range(ROUNDS):
            call()
        gc.collect()
        grew = (sys.getallocatedblocks() - blocks, len(gc.get_objects()) - objects)
        self.growth[name] = grew
        self.assertLessEqual(grew[0], BLOCK_SLACK, f"{name}: allocated blocks grew")
        self.assertLessEqual(grew[1], 0, f"{name}: live objects grew")

    @staticmethod
    def request(text=REQUEST):
        return lambda: io.StringIO(text)

    # _read_token -------------------------------------------------------------

    def test_read_token_answers(self):
        for label, config, token in [("token", '{"github_token": "ghp_token"}', "ghp_token"),
                                     ("array token", '{"github_token": [1, {"a": null}]}',
                                      [1, {"a": None}]),
                                     ("false token", '{"github_token": 0}', "")]:
            with self.scenario(label):
                self.write_config(config)
                self.assertSettles("_read_token " + label, helper._read_token, result=token)

    def test_read_token_failures_handled_inside(self):
        """Each of these raises an Exception inside, which becomes ""."""
        def make_directory():
            os.remove(self.config)
            os.mkdir(self.config)

        cases = [
            ("missing file", lambda: os.remove(self.config)),
            ("directory", make_directory),
            ("CONFIG_PATH deleted", lambda: self.patch(helper, "CONFIG_PATH", DELETE)),
            ("CONFIG_PATH refused by open", lambda: self.patch(helper, "CONFIG_PATH", 3.5)),
            ("file descriptor", lambda: self.patch(helper, "CONFIG_PATH", 0)),
            ("relative CONFIG_PATH", lambda: self.patch(helper, "CONFIG_PATH", b"config.json")),
            ("world-writable file", lambda: os.chmod(self.config, 0o646)),
            ("invalid JSON", lambda: self.write_config("{")),
            ("not UTF-8", lambda: self.write_config(b'{"github_token": "\xff"}')),
            ("nested too deep", lambda: self.write_config("[" * 5000 + "]" * 5000)),
            ("json deleted", lambda: self.patch(helper, "json", DELETE)),
            ("load raises", lambda: self.patch(helper, "json", JsonReturning(raises=ValueError))),
            ("top-level array", lambda: self.write_config("[1]")),
            ("get raises", lambda: self.patch(
                helper, "json", JsonReturning(RaisingGet("github_token", ValueError)))),
            ("truth test raises", lambda: self.patch(
                helper, "json", JsonReturning({"github_token": Falsy()}))),
        ]
        for label, arrange in cases:
            with self.scenario(label):
                arrange()
                self.assertSettles("_read_token " + label, helper._read_token, result="")

    def test_read_token_failures_passing_through(self):
        cases = [
            ("open interrupted", FspathRaises(), None, [25]),
            ("load interrupted", None, JsonReturning(raises=KeyboardInterrupt), [25, 26]),
            ("get interrupted", None, JsonReturning(RaisingGet("github_token", KeyboardInterrupt)),
             [27]),
        ]
        for label, path, json_module, lines in cases:
            with self.scenario(label):
                if path is not None:
                    self.patch(helper, "CONFIG_PATH", path)
                if json_module is not None:
                    self.patch(helper, "json", json_module)
                self.assertSettles("_read_token " + label, helper._read_token, raises=KeyboardInterrupt,
                                   entries=[("_read_token", line) for line in lines])

    # _parse_input ------------------------------------------------------------

    def test_parse_input_reads_requests(self):
        fields = {"protocol": "https", "host": "github.com", "path": "o/r.git"}
        cases = [
            ("request", self.request(), fields),
            ("list", lambda: REQUEST.splitlines(True), fields),
            ("odd lines", self.request("no equals\n=v\n k = v \na=b=c"),
             {"": "v", "k": " v ", "a": "b=c"}),
        ]
        for label, stdin, result in cases:
            with self.scenario(label):
                self.assertSettles("_parse_input " + label, helper._parse_input, stdin=stdin,
                                   result=result)

    def test_parse_input_failures(self):
        cases = [
            ("stdin not iterable", lambda: 5, TypeError, 34),
            ("stdin raises", failing_lines, KeyError, 34),
            ("no rstrip", lambda: [7], AttributeError, 35),
            ("comparison raises", lambda: [Line(rstripped=Unequal())], ValueError, 36),
            ("containment refused", lambda: [Line(rstripped=NoContains())], TypeError, 38),
            ("partition gives None", lambda: [Line(parts=None)], TypeError, 39),
            ("two parts", lambda: [Line(parts=("k", "="))], ValueError, 39),
            ("four parts", lambda: [Line(parts=iter("abcd"))], ValueError, 39),
            ("strip raises", lambda: [Line(parts=(Key(False), "=", "v"))], ValueError, 40),
            ("unhashable key", lambda: [Line(parts=(Key(True), "=", "v"))], TypeError, 40),
        ]
        for label, stdin, exc, line in cases:
            with self.scenario(label):
                self.assertSettles("_parse_input " + label, helper._parse_input, stdin=stdin,
                                   raises=exc, entries=[("_parse_input", line)])
        for label, sys_global, exc in [("sys deleted", DELETE, NameError),
                                       ("sys without stdin", object(), AttributeError)]:
            with self.scenario(label):
                self.patch(helper, "sys", sys_global)
                self.assertSettles("_parse_input " + label, helper._parse_input, raises=exc,
                                   entries=[("_parse_input", 34)])

    # cmd_get ------------------------------------------------------------------

    def test_cmd_get_answers_or_withholds(self):
        for label, request, config in [
                ("answer", REQUEST, None),
                ("other host", "host=example.com\n", None),
                ("plain http", "protocol=http\nhost=github.com\n", None),
                ("empty request", "", None),
                ("no token", REQUEST, "{}"),
                ("token with a line feed", REQUEST, '{"github_token": "a\\nb"}'),
                ("token not a str", REQUEST, '{"github_token": [1]}')]:
            with self.scenario(label):
                if config is not None:
                    self.write_config(config)
                self.assertSettles("cmd_get " + label, helper.cmd_get, stdin=self.request(request))
        for label, token in [("str subclass token", TokenSubclass("ghp_token")),
                             ("token without text", Unformattable())]:
            with self.scenario(label):
                self.patch(helper, "_read_token", Returns(token))
                self.assertSettles("cmd_get " + label, helper.cmd_get, stdin=self.request())

    def test_cmd_get_failures(self):
        cases = [
            ("stdin not iterable", TypeError, [44, ("_parse_input", 34)], {"stdin": lambda: 5}),
            ("parser raises", ValueError, [44], {"_parse_input": Returns(raises=ValueError)}),
            ("parser deleted", NameError, [44], {"_parse_input": DELETE}),
            ("request without get", AttributeError, [45], {"_parse_input": Returns([])}),
            ("host lookup raises", ValueError, [45],
             {"_parse_input": Returns(RaisingGet("host", ValueError))}),
            ("host not a container", TypeError, [47], {"_parse_input": Returns({"host": 5})}),
            ("protocol lookup raises", ValueError, [47],
             {"_parse_input": Returns(RaisingGet("protocol", ValueError, {"host": "github.com"}))}),
            ("reader raises", ValueError, [49], {"_read_token": Returns(raises=ValueError)}),
            ("reader deleted", NameError, [49], {"_read_token": DELETE}),
            ("token truth raises", ValueError, [50], {"_read_token": Returns(Falsy())}),
            ("first print fails", OSError, [54], {"stdout": lambda: FailingWrites(1)}),
            ("second print fails", OSError, [55], {"stdout": lambda: FailingWrites(3)}),
            ("third print fails", OSError, [56], {"stdout": lambda: FailingWrites(5)}),
        ]
        for label, exc, lines, changes in cases:
            with self.scenario(label):
                stdin = changes.pop("stdin", self.request())
                stdout = changes.pop("stdout", None)
                for name, value in changes.items():
                    self.patch(helper, name, value)
                entries = [line if isinstance(line, tuple) else ("cmd_get", line) for line in lines]
                self.assertSettles("cmd_get " + label, helper.cmd_get, stdin=stdin, stdout=stdout,
                                   raises=exc, entries=entries)

    # All five -----------------------------------------------------------------

    def test_store_and_erase(self):
        for function in (helper.cmd_store, helper.cmd_erase):
            with self.scenario(function.__name__):
                self.assertSettles(function.__name__, function)

    def test_calls_with_arguments_are_refused(self):
        for function in (helper._read_token, helper._parse_input, helper.cmd_get,
                         helper.cmd_store, helper.cmd_erase):
            name = function.__name__
            with self.scenario(name):
                self.assertSettles(f"{name}(1)", lambda: function(1), raises=TypeError)
                self.assertSettles(f"{name}(k=1)", lambda: function(k=1), raises=TypeError)


if __name__ == "__main__":
    unittest.main()
