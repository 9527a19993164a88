"""The helper's functions called from Python: the credential protocol on
sys.stdin and sys.stdout, and the configuration file."""
import contextlib
import io
import json
import os
import random
import signal
import sys
import tempfile
import traceback
import unittest

import support  # puts the built module on sys.path
import git_credential_kestrune as helper

ANSWER = "username=x-access-token\npassword={}\n\n"


def raised_by(function, exc_type):
    """Calls `function`, which must raise `exc_type`; returns the exception and
    its traceback entries as (file, name, line)."""
    try:
        function()
    except exc_type as e:
        return e, [(f.filename, f.name, f.lineno) for f in traceback.extract_tb(e.__traceback__)]
    raise AssertionError("%s not raised" % exc_type.__name__)


class CommandTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.config = os.path.join(self.dir.name, "config.json")
        saved_path = helper.CONFIG_PATH
        self.addCleanup(setattr, helper, "CONFIG_PATH", saved_path)
        helper.CONFIG_PATH = self.config
        saved_stdin = sys.stdin
        self.addCleanup(setattr, sys, "stdin", saved_stdin)

    def write_config(self, value, raw=None):
        with open(self.config, "w", encoding="utf-8") as f:
            f.write(raw if raw is not None else json.dumps(value))

    def get(self, request):
        """Runs cmd_get on `request` (str, list or any stdin object); returns
        what it printed."""
        sys.stdin = io.StringIO(request) if isinstance(request, str) else request
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            self.assertIsNone(helper.cmd_get())
        return out.getvalue()


class ParseInputTest(CommandTestCase):
    def parse(self, request):
        sys.stdin = io.StringIO(request) if isinstance(request, str) else request
        return helper._parse_input()

    def test_key_value_lines_up_to_the_empty_line(self):
        stdin = io.StringIO("protocol=https\nhost=github.com\n\nhost=later\n")
        self.assertEqual(self.parse(stdin), {"protocol": "https", "host": "github.com"})
        # Lines after the empty line stay unread.
        self.assertEqual(stdin.readline(), "host=later\n")

    def test_line_shapes(self):
        data = self.parse(
            "no equals sign\n=rest\n  key  =  value  \na=b=c\nx=1\nx=2\nr=v\r\nend=\n")
        self.assertEqual(data, {"": "rest", "key": "  value  ", "a": "b=c", "x": "2",
                                "r": "v\r", "end": ""})

    def test_input_without_final_empty_line_or_newline(self):
        self.assertEqual(self.parse("host=github.com"), {"host": "github.com"})
        self.assertEqual(self.parse(""), {})

    def test_only_line_feeds_are_stripped(self):
        self.assertEqual(self.parse(["host=a\n\n\n", "k=v \n"]), {"host": "a", "k": "v "})

    def test_stdin_as_list_or_tuple(self):
        self.assertEqual(self.parse(["host=a\n", "\n", "host=b\n"]), {"host": "a"})
        self.assertEqual(self.parse(("k=v",)), {"k": "v"})

    def test_list_grown_during_the_walk_is_read_to_its_new_end(self):
        lines = ["a=1\n"]

        class Growing(str):
            def rstrip(self, chars):
                if len(lines) < 3:
                    lines.append("b=%d\n" % len(lines))
                return str.rstrip(self, chars)

        lines[0] = Growing("a=1\n")
        self.assertEqual(self.parse(lines), {"a": "1", "b": "1"})

    def test_unpacking_errors_of_a_partition_that_is_not_three_long(self):
        class Odd(str):
            def __new__(cls, text, parts):
                self = str.__new__(cls, text)
                self.parts = parts
                return self

            def rstrip(self, chars):
                return self

            def partition(self, sep):
                return self.parts

        cases = [
            (("k", "="), ValueError, "need more than 2 values to unpack"),
            (iter(["k"]), ValueError, "need more than 1 value to unpack"),
            (["k", "=", "v", "w"], ValueError, "too many values to unpack (expected 3)"),
            (iter("abcd"), ValueError, "too many values to unpack (expected 3)"),
        ]
        for parts, exc, message in cases:
            with self.subTest(parts=parts):
                with self.assertRaises(exc) as cm:
                    self.parse([Odd("k=v", parts)])
                self.assertEqual(str(cm.exception), message)
        self.assertEqual(self.parse([Odd("k=v", iter("abc"))]), {"a": "c"})

    def test_stdin_that_cannot_be_iterated(self):
        _, entries = raised_by(lambda: self.parse(5), TypeError)
        self.assertEqual(entries[-1], ("scripts/git-credential-kestrune",
                                       "scripts.git_credential_kestrune._parse_input", 34))

    def test_errors_of_the_iteration_pass_up(self):
        def lines():
            yield "a=1\n"
            raise KeyError("boom")

        with self.assertRaises(KeyError):
            self.parse(lines())
        # StopIteration raised by the iterator ends the loop quietly.
        class Stopping:
            def __iter__(self):
                return self

            def __next__(self):
                raise StopIteration

        self.assertEqual(self.parse(Stopping()), {})


def load_plain_twin():
    """bench/plain_helper.py, the helper written as plain Python."""
    import importlib.util
    path = os.path.join(support.SOURCE_DIR, "bench", "plain_helper.py")
    spec = importlib.util.spec_from_file_location("plain_helper_twin", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


# Every whitespace character str.strip removes, and characters that look like
# it but are not (U+200B, U+FEFF).
WHITESPACE = "".join(chr(c) for c in range(0x110000) if chr(c).isspace())
PIECES = [WHITESPACE, "=\n\r\0 \u200b\ufeff", "ab", "\xe9\xff", "\u20ac\u0100",
          "\U0001f600\U0010ffff", "\ud800\udfff"]


class RstripSubclass(str):
    def rstrip(self, chars=None):
        return str.rstrip(self, chars) + "!"


class StripSubclass(str):
    def strip(self, chars=None):
        return "stripped"


class SplitSubclass(str):
    def split(self, sep=None, maxsplit=-1):
        raise AssertionError("split called")


class PartitionSubclass(str):
    def partition(self, sep):
        return ("p", sep, "q")


def plain(value):
    """`value` with a str subclass made an exact str, so that comparing
    outcomes runs none of the subclass's methods."""
    return str.__str__(value) if isinstance(value, str) else value


def logged(name, answer):
    """A line method that writes its call to LoggedLine.log and returns what
    `answer` gives for the line's exact text, its str parts of the line's
    own class again, so that every step of the loop meets the subclass."""
    def method(self, *args):
        LoggedLine.log.append((type(self).__name__, name, plain(self), *map(plain, args)))
        result = answer(plain(self), *args)
        if isinstance(result, tuple):
            return tuple(map(type(self), result))
        return type(self)(result) if isinstance(result, str) else result
    return method


class LoggedLine(str):
    """A line whose methods that the loop calls answer as str's do."""
    log = []
    rstrip = logged("rstrip", str.rstrip)
    __eq__ = logged("__eq__", str.__eq__)
    __hash__ = logged("__hash__", str.__hash__)
    __contains__ = logged("__contains__", str.__contains__)
    partition = logged("partition", str.partition)
    strip = logged("strip", str.strip)


class LyingLine(LoggedLine):
    """A line whose methods answer otherwise than str's: the loop goes by what
    they answer, as the script does. Every key of this class hashes alike, so
    the dictionary compares them."""
    __eq__ = logged("__eq__", lambda line, other: line.startswith("#") or str.__eq__(line, other))
    __hash__ = logged("__hash__", lambda line: 0)
    __contains__ = logged("__contains__", lambda line, part: part not in line)
    partition = logged("partition", str.rpartition)
    strip = logged("strip", lambda line, *chars: line.strip(*chars).upper())


# The shapes sys.stdin takes: (name, make(lines), the unread rest of it,
# whether it holds only exact str lines).
STDIN_KINDS = [
    ("list", list, lambda stdin: None, False),
    ("tuple", tuple, lambda stdin: None, False),
    ("generator", lambda lines: (line for line in lines), list, False),
    ("iter(list)", iter, list, False),
    ("StringIO", lambda lines: io.StringIO("".join(lines)), io.StringIO.read, True),
    ("TextIOWrapper", lambda lines: io.TextIOWrapper(
        io.BytesIO("".join(lines).encode("utf-8", "surrogatepass")), encoding="utf-8",
        errors="surrogatepass", newline="\n"), io.TextIOWrapper.read, True),
]
NOT_STR_LINES = [b"k=v\n", 5, None, ["k=v"]]


class ParseInputTwinTest(CommandTestCase):
    """_parse_input against the plain-Python twin on random and edge-case
    requests: the same dictionary (keys, values and their types), or the
    same exception; the same calls of a str subclass's methods, in the same
    order; and the same part of sys.stdin left unread."""

    @classmethod
    def setUpClass(cls):
        cls.plain = load_plain_twin()

    def outcome(self, parse, make_stdin, rest=lambda stdin: None):
        LoggedLine.log = []
        sys.stdin = stdin = make_stdin()
        try:
            data = parse()
        except Exception as e:
            result = (type(e), str(e))
        else:
            result = [(type(k), plain(k), type(v), plain(v)) for k, v in data.items()]
        return result, LoggedLine.log, rest(stdin)

    def assert_same(self, lines, make_stdin=list, rest=lambda stdin: None):
        self.assertEqual(self.outcome(helper._parse_input, lambda: make_stdin(lines), rest),
                         self.outcome(self.plain._parse_input, lambda: make_stdin(lines), rest),
                         ascii(lines))

    def random_line(self, rng):
        parts = []
        for _ in range(rng.randrange(6)):
            piece = rng.choice(PIECES)
            parts.append("".join(rng.choice(piece) for _ in range(rng.randrange(4))))
        return rng.choice(["", "#", " k ="]) + "".join(parts) + rng.choice(
            ["", "\n", "\n\n", "\r\n", "\r"])

    def random_item(self, rng, exact_only):
        line = self.random_line(rng)
        kind = 0 if exact_only else rng.randrange(20)
        if kind < 12:
            return line
        if kind < 19:
            return (LoggedLine, LyingLine)[kind % 2](line)
        return rng.choice(NOT_STR_LINES)

    def test_random_requests(self):
        rng = random.Random(17)
        for case in range(360):
            name, make, rest, exact_only = STDIN_KINDS[case % len(STDIN_KINDS)]
            lines = [self.random_item(rng, exact_only) for _ in range(rng.randrange(1, 6))]
            with self.subTest(stdin=name, case=case):
                self.assert_same(lines, make, rest)

    def test_edge_cases(self):
        cases = [
            ["\n"], [""], ["\n\n\n"], ["="], ["=\n"], ["==\n"], ["k="], ["=v"],
            [WHITESPACE + "=" + WHITESPACE + "\n"], [" \u3000k\x85 =v\u2028\n"],
            ["\u200bk\u200b=v"], ["\0=\0\n"], ["k\0=v"], ["k=v\r\n"], ["\r\n", "k=v"],
            ["\ud800=\udfff\n"], ["\U0010ffff=\U0001f600"], ["k=\u20ac\n\n"],
            ["\xe9=\xff"], ["a=1\n", "\n", "b=2\n"], ["a=1", "a=2"], ["x" * 10000 + "=y"],
            [RstripSubclass("k=v\n")], [RstripSubclass("\n")], [StripSubclass(" k =v")],
            [SplitSubclass("k=v")], [PartitionSubclass("k=v\n")],
            ["k=v", b"k=v\n"], [5], [None], ["a=b", ["k=v"]],
        ]
        for lines in cases:
            with self.subTest(lines=ascii(lines)):
                self.assert_same(lines)


class ReadTokenTest(CommandTestCase):
    def test_token_as_parsed(self):
        for value in ["ghp_abc", 5, True, ["a"], {"k": 1}, 1.5]:
            with self.subTest(value=value):
                self.write_config({"github_token": value})
                self.assertEqual(helper._read_token(), value)

    def test_no_token_gives_the_empty_string(self):
        cases = {
            "missing file": None,
            "empty file": "",
            "invalid json": "{",
            "top-level array": "[1]",
            "no member": "{}",
            "false": '{"github_token": false}',
            "null": '{"github_token": null}',
            "zero": '{"github_token": 0}',
            "empty": '{"github_token": ""}',
            "not utf-8": b'{"github_token": "\xff"}',
        }
        for name, raw in cases.items():
            with self.subTest(name):
                if os.path.exists(self.config):
                    os.remove(self.config)
                if isinstance(raw, bytes):
                    with open(self.config, "wb") as f:
                        f.write(raw)
                elif raw is not None:
                    self.write_config(None, raw=raw)
                self.assertEqual(helper._read_token(), "")

    def test_config_path_is_read_at_every_call(self):
        other = os.path.join(self.dir.name, "other.json")
        with open(other, "w") as f:
            json.dump({"github_token": "other"}, f)
        helper.CONFIG_PATH = other
        self.assertEqual(helper._read_token(), "other")
        del helper.CONFIG_PATH
        self.assertEqual(helper._read_token(), "")  # NameError stays inside
        helper.CONFIG_PATH = 3.5  # open() refuses it with TypeError
        self.assertEqual(helper._read_token(), "")

    def test_config_path_kinds(self):
        self.write_config({"github_token": "t"})
        fspath_calls = []

        class Path:
            def __fspath__(self_):
                fspath_calls.append(1)
                return self.config

        for path in [self.config, os.fsencode(self.config), Path()]:
            with self.subTest(path=path):
                helper.CONFIG_PATH = path
                self.assertEqual(helper._read_token(), "t")
        self.assertEqual(fspath_calls, [1])  # the path it names is the one opened
        # A file descriptor and relative paths are refused, even when the
        # working directory holds the file they name.
        with open(self.config) as f:
            helper.CONFIG_PATH = f.fileno()
            self.assertEqual(helper._read_token(), "")
        cwd = os.getcwd()
        self.addCleanup(os.chdir, cwd)
        os.chdir(self.dir.name)
        for path in ["config.json", b"config.json", "./config.json"]:
            with self.subTest(path=path):
                helper.CONFIG_PATH = path
                self.assertEqual(helper._read_token(), "")

    def test_special_unsafe_and_oversized_files_are_not_read(self):
        # A FIFO or a device would block or never end: a hang here fails the
        # test at the alarm instead of stalling the run.
        signal.signal(signal.SIGALRM, signal.default_int_handler)
        self.addCleanup(signal.signal, signal.SIGALRM, signal.SIG_DFL)
        self.addCleanup(signal.alarm, 0)
        token = '{"github_token": "t"}'
        other = os.path.join(self.dir.name, "sub")
        os.mkdir(other)

        def fifo(path):
            os.mkfifo(path)

        def device(path):
            os.symlink("/dev/zero", path)

        def size(n):
            return lambda path: open(path, "w").write(token + " " * (n - len(token)))

        def mode(file_mode, folder_mode=0o700):
            def make(path):
                open(path, "w").write(token)
                os.chmod(path, file_mode)
                os.chmod(os.path.dirname(path), folder_mode)
            return make

        cases = [("FIFO", fifo, ""), ("symlink to the zero device", device, ""),
                 ("2 MiB", size(2 << 20), ""), ("1 MiB + 1", size((1 << 20) + 1), ""),
                 ("exactly 1 MiB", size(1 << 20), "t"),
                 ("world-writable file", mode(0o646), ""),
                 ("world-writable sticky folder", mode(0o600, 0o1777), ""),
                 ("group-writable file and folder", mode(0o660, 0o770), "t")]
        if os.geteuid() == 0:
            def owned_by_nobody(folder):
                def make(path):
                    open(path, "w").write(token)
                    os.chown(folder or path, 65534, -1)
                return make
            cases += [("file owned by another user", owned_by_nobody(None), ""),
                      ("folder owned by another user", owned_by_nobody(other), "")]
        for name, make, expected in cases:
            with self.subTest(name):
                path = os.path.join(other, name)
                make(path)
                helper.CONFIG_PATH = path
                signal.alarm(5)
                self.assertEqual(helper._read_token(), expected)
                signal.alarm(0)
                os.chmod(other, 0o700)
                os.chown(other, os.geteuid(), -1)
                os.remove(path)
        if os.geteuid() != 0:
            self.skipTest("not root: files owned by another user were not tried")

    def test_handled_exception_is_restored(self):
        self.write_config(None, raw="{")
        try:
            raise LookupError("outer")
        except LookupError as outer:
            self.assertEqual(helper._read_token(), "")
            self.assertIs(sys.exception(), outer)

    def test_handled_exception_of_a_caller_stays_out_of_a_generator(self):
        # The generator's own handled exception is empty while its caller
        # handles `outer`; it must be empty again once the caller's except
        # clause has ended, as it is for plain Python code.
        self.write_config(None, raw="{")

        def generator():
            yield helper._read_token()
            yield sys.exception()

        for config in ("{", None):  # failing and succeeding reads
            with self.subTest(config=config):
                if config is None:
                    self.write_config({"github_token": "t"})
                steps = generator()
                try:
                    raise LookupError("outer")
                except LookupError as outer:
                    next(steps)
                    self.assertIs(sys.exception(), outer)
                self.assertIsNone(next(steps))

    def test_exceptions_outside_exception_pass_through_with_two_entries(self):
        self.write_config({"github_token": "t"})
        saved = helper.json
        self.addCleanup(setattr, helper, "json", saved)

        class Interrupting:
            @staticmethod
            def load(f):
                raise KeyboardInterrupt

        helper.json = Interrupting
        _, entries = raised_by(helper._read_token, KeyboardInterrupt)
        name = "scripts.git_credential_kestrune._read_token"
        self.assertEqual([e[1:] for e in entries[-3:]],
                         [(name, 25), (name, 26), ("load", entries[-1][2])])

    def test_file_is_closed_after_the_with_block(self):
        self.write_config({"github_token": "t"})
        seen = []
        saved = helper.json
        self.addCleanup(setattr, helper, "json", saved)

        class Recording:
            @staticmethod
            def load(f):
                seen.append(f)
                return {"github_token": "t"}

        helper.json = Recording
        self.assertEqual(helper._read_token(), "t")
        self.assertTrue(seen[0].closed)


class CmdGetTest(CommandTestCase):
    def test_answers_for_github(self):
        self.write_config({"github_token": "ghp_secret"})
        self.assertEqual(self.get("protocol=https\nhost=github.com\n\n"),
                         ANSWER.format("ghp_secret"))

    def test_only_a_str_token_is_answered(self):
        # The truth test of line 50 runs first; only then is the kind checked.
        for value in [5, True, ["a"], 2.5, {"k": "v", "other_secret": "s"}, float("nan")]:
            with self.subTest(value=value):
                self.write_config({"github_token": value})
                self.assertEqual(self.get("host=github.com\n"), "")

    def test_a_str_subclass_token_is_judged_by_its_own_characters(self):
        class Token(str):
            def __str__(self):
                raise AssertionError("__str__ called")

            def __format__(self, spec):
                raise AssertionError("__format__ called")

        class Pretending(str):
            def __str__(self):
                return "ghp_good"

            __format__ = __str__

        saved = helper._read_token
        self.addCleanup(setattr, helper, "_read_token", saved)
        for token, expected in [(Token("ghp_x"), ANSWER.format("ghp_x")),
                                (Pretending("bad\x0btoken"), "")]:
            with self.subTest(token=token):
                helper._read_token = lambda: token
                self.assertEqual(self.get("host=github.com\n"), expected)

        class Untestable(str):
            def __bool__(self):
                raise KeyError("bool")

        helper._read_token = lambda: Untestable("ghp_x")
        _, entries = raised_by(lambda: self.get("host=github.com\n"), KeyError)
        self.assertEqual(entries[-2][1:], ("scripts.git_credential_kestrune.cmd_get", 50))

    def test_hosts(self):
        self.write_config({"github_token": "tok"})
        answered = ["github.com", "github.com:8443", "api.github.com", "a.b.github.com:1",
                    "GitHub.com", "API.GITHUB.COM:443", "github.com.", "api.github.com.:443",
                    "github.com:65535", "github.com:00443", "a-1.x9.github.com",
                    "a" * 63 + ".github.com"]
        silent = ["github.com.evil.example", "evilgithub.com", "github.com:", "github.com:x",
                  "notgithub.com", ".github.com", "github.co", "", "github.com:1:2",
                  "github.com/", " github.com", "evil.test/.github.com", "a@b.github.com",
                  "x:1.github.com", "-a.github.com", "a-.github.com", "a..github.com",
                  "a_b.github.com", "a" * 64 + ".github.com", "github.com:0",
                  "github.com:65536", "github.com:123456", "github.com..", "github.com:443.",
                  "g\u0131thub.com", "github.\u212aom", "\uff47ithub.com", "github.com\u3002",
                  "api.github.com\x00", "github.com:\u0664\u0664\u0663"]
        for host in answered:
            with self.subTest(host=host):
                self.assertEqual(self.get("host=%s\n\n" % host), ANSWER.format("tok"))
        for host in silent:
            with self.subTest(host=host):
                self.assertEqual(self.get("host=%s\n\n" % host), "")

    def test_protocols(self):
        self.write_config({"github_token": "tok"})
        self.assertEqual(self.get("protocol=https\nhost=github.com\n"), ANSWER.format("tok"))
        self.assertEqual(self.get("host=github.com\n"), ANSWER.format("tok"))
        for protocol in ["http", "HTTPS", "", "ssh", "https "]:
            with self.subTest(protocol=protocol):
                self.assertEqual(self.get("protocol=%s\nhost=github.com\n" % protocol), "")

    def test_token_rule(self):
        for token in ["ghp_0123456789", "!", "~" * 4000, "".join(map(chr, range(0x21, 0x7f)))]:
            with self.subTest(token=token[:20]):
                self.write_config({"github_token": token})
                self.assertEqual(self.get("host=github.com\n"), ANSWER.format(token))
        # Line breaks, other control and separator characters, spaces,
        # non-ASCII text, surrogates and oversized tokens get no answer.
        for token in ["a\nusername=evil", "a\rb", "a\x00b", "\n", "a\ud800b", "\udc80",
                      "a\x0bb", "a\x0cb", "a\x1bb", "a\x07b", "a\x7fb", "a\x85b", "a\u2028b",
                      "a b", " ", "t\u00f6ken", "\uff47hp", "~" * 4001]:
            with self.subTest(token=token[:20]):
                self.write_config({"github_token": token})
                self.assertEqual(self.get("host=github.com\n"), "")

    def test_no_answer_without_a_token_or_a_host(self):
        self.write_config({"github_token": ""})
        self.assertEqual(self.get("host=github.com\n"), "")
        self.write_config({"github_token": "tok"})
        self.assertEqual(self.get("protocol=https\n\n"), "")

    def test_config_is_not_read_for_other_hosts(self):
        calls = []
        saved = helper._read_token
        self.addCleanup(setattr, helper, "_read_token", saved)
        helper._read_token = lambda: calls.append(1) or "tok"
        self.assertEqual(self.get("host=example.com\n"), "")
        self.assertEqual(calls, [])
        # The global is looked up at each call, so the replacement answers.
        self.assertEqual(self.get("host=github.com\n"), ANSWER.format("tok"))

    def test_non_str_host_never_matches(self):
        saved = helper._parse_input
        self.addCleanup(setattr, helper, "_parse_input", saved)
        self.write_config({"github_token": "tok"})
        helper._parse_input = lambda: {"host": ["github.com"]}
        self.assertEqual(self.get(""), "")
        helper._parse_input = lambda: {"host": 5}
        _, entries = raised_by(lambda: self.get(""), TypeError)
        self.assertEqual(entries[-1][1:], ("scripts.git_credential_kestrune.cmd_get", 47))

    def test_failure_entries_of_the_commands_below(self):
        sys.stdin = object()
        _, entries = raised_by(helper.cmd_get, TypeError)
        self.assertEqual(entries[-2:], [
            ("scripts/git-credential-kestrune", "scripts.git_credential_kestrune.cmd_get", 44),
            ("scripts/git-credential-kestrune", "scripts.git_credential_kestrune._parse_input", 34),
        ])

    def test_print_failure_is_reported_at_its_line(self):
        self.write_config({"github_token": "tok"})
        sys.stdin = io.StringIO("host=github.com\n")

        class Closed(io.StringIO):
            def write(self, text):
                raise OSError("closed")

        with contextlib.redirect_stdout(Closed()):
            _, entries = raised_by(helper.cmd_get, OSError)
        self.assertEqual(entries[-2][1:], ("scripts.git_credential_kestrune.cmd_get", 54))


class StoreEraseTest(CommandTestCase):
    def test_store_and_erase_do_nothing(self):
        stdin = io.StringIO("host=github.com\npassword=x\n\n")
        sys.stdin = stdin
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            self.assertIsNone(helper.cmd_store())
            self.assertIsNone(helper.cmd_erase())
        self.assertEqual(out.getvalue(), "")
        self.assertEqual(stdin.tell(), 0)

    def test_arguments_are_refused_before_the_body_runs(self):
        for function in [helper._read_token, helper._parse_input, helper.cmd_get,
                         helper.cmd_store, helper.cmd_erase]:
            name = function.__name__
            with self.subTest(name):
                with self.assertRaises(TypeError) as cm:
                    function(1)
                self.assertEqual(str(cm.exception), "%s() takes no arguments (1 given)" % name)
                with self.assertRaises(TypeError) as cm:
                    function(x=1)
                self.assertEqual(str(cm.exception), "%s() takes no keyword arguments" % name)


if __name__ == "__main__":
    unittest.main()
