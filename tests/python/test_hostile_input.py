"""Hostile input through the launcher, as git runs it: standard input,
configuration files, environments and command lines that no well-behaved
caller would hand over.

Whatever it gets, the helper answers exactly or not at all and exits 0,
except where a failure passes up (then it exits 1 with a traceback). A GitHub
request that the config file cannot answer gets one line on standard error
that says why. It is never killed by a signal, every run has a time limit (so
a hang fails the test), and the token never appears on standard error.
"""
import json
import os
import pwd
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

try:
    from launcher_support import (GITHUB_REQUEST, LAUNCHER, NO_TOKEN_LINE, TOKEN, answer, clean_env,
                                  config_path, make_home, run_launcher)
except ImportError:  # a tree without the launcher: every test below is skipped
    LAUNCHER, GITHUB_REQUEST = "", b""

MEGABYTES_10 = 10 * 1024 * 1024
# Deeper than any recursion limit of the interpreter.
DEEP = 100_000


@unittest.skipUnless(LAUNCHER, "KESTRUNE_LAUNCHER is not set: run through ctest in a tree "
                               "that builds the launcher")
class HostileCase(unittest.TestCase):
    def setUp(self):
        self.home = make_home(self, {"github_token": TOKEN})

    def helper(self, args=("get",), stdin=GITHUB_REQUEST, **kwargs):
        kwargs.setdefault("home", self.home)
        result = run_launcher(list(args), stdin, **kwargs)
        self.assertGreaterEqual(result.returncode, 0, "killed by a signal")
        self.assertNotIn(TOKEN.encode(), result.stderr)
        return result

    def assertAnswer(self, result, expected):
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, expected, b""))

    def assertNoToken(self, result):
        """No answer, and the one line that says why."""
        self.assertEqual((result.returncode, result.stdout), (0, b""))
        self.assertRegex(result.stderr, NO_TOKEN_LINE)

    def assertAnswerOrNoToken(self, result, expected):
        """`expected`, or no answer and the line that says why."""
        if result.stdout:
            self.assertAnswer(result, expected)
        else:
            self.assertNoToken(result)

    def assertTraceback(self, result, last_line):
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertTrue(result.stderr.startswith(b"Traceback (most recent call last):\n"),
                        result.stderr)
        self.assertTrue(result.stderr.endswith(last_line + b"\n"), result.stderr)


class HostileStdinTest(HostileCase):
    def test_bytes_that_are_not_utf8_around_and_inside_the_request(self):
        # No letters or digits: a garbage line can never spell a key or a port.
        alphabet = bytes(range(0x80, 0x100)) + b"\x00\r\t =:."
        rng = random.Random(7)
        for _ in range(12):
            junk = bytes(rng.choice(alphabet) for _ in range(rng.randint(1, 40)))
            answered = b"protocol=https\n" + junk + b"\nhost=github.com\njunk=" + junk + b"\n\n"
            spoiled = b"protocol=https\nhost=github.com" + junk + b"\n\n"
            with self.subTest(junk=junk):
                self.assertAnswer(self.helper(stdin=answered), answer(TOKEN))
                self.assertAnswer(self.helper(stdin=spoiled), b"")
                for action in ("store", "erase"):
                    self.assertAnswer(self.helper([action], stdin=answered), b"")

    def test_ten_megabyte_lines(self):
        huge = b"x" * MEGABYTES_10
        cases = [
            (b"protocol=https\npath=" + huge + b"\nhost=github.com\n\n", answer(TOKEN)),
            (b"protocol=https\nhost=" + huge + b".github.com\n\n", b""),  # label too long
            (b"protocol=https\nhost=github.com" + huge + b"\n\n", b""),
            (huge, b""),  # one line, no newline at all
        ]
        for stdin, expected in cases:
            with self.subTest(start=stdin[:30]):
                self.assertAnswer(self.helper(stdin=stdin), expected)
        self.assertAnswer(self.helper(["store"], stdin=cases[0][0]), b"")

    def test_request_without_final_newline(self):
        for stdin, expected in [(b"protocol=https\nhost=github.com", answer(TOKEN)),
                                (b"host=api.github.com:443", answer(TOKEN)),
                                (b"host=", b""),
                                (b"h", b"")]:
            with self.subTest(stdin=stdin):
                self.assertAnswer(self.helper(stdin=stdin), expected)

    def test_nul_bytes(self):
        for stdin, expected in [
                (b"protocol=https\nhost=github.com\x00\n\n", b""),
                (b"protocol=https\x00\nhost=github.com\n\n", b""),
                (b"protocol=https\nhost=\x00github.com\n\n", b""),
                (b"\x00=\x00\nprotocol=https\n\x00\nhost=github.com\n\n", answer(TOKEN)),
                (b"\x00" * 100_000, b"")]:
            with self.subTest(stdin=stdin[:40]):
                self.assertAnswer(self.helper(stdin=stdin), expected)

    def test_stdin_at_its_end_at_once(self):
        for action in ("get", "store", "erase"):
            with self.subTest(action=action):
                self.assertAnswer(self.helper([action], stdin=b""), b"")

    def test_stdin_closed(self):
        # Without a standard input sys.stdin is None: store and erase never
        # read it, and get fails on iterating it, which passes up.
        def closed(action):
            return subprocess.run(["sh", "-c", 'exec "$0" "$1" <&-', LAUNCHER, action],
                                  env=clean_env(HOME=self.home), capture_output=True, timeout=60)
        for action in ("store", "erase"):
            self.assertAnswer(closed(action), b"")
        result = closed("get")
        self.assertNotIn(TOKEN.encode(), result.stderr)
        self.assertTraceback(result, b"TypeError: 'NoneType' object is not iterable")

    def endless_stdin(self, source):
        """A standard input that never ends: the output of `yes`, or
        /dev/zero."""
        if source == "yes":
            producer = subprocess.Popen(["yes"], stdout=subprocess.PIPE)
            self.addCleanup(producer.wait)
            self.addCleanup(producer.kill)
            self.addCleanup(producer.stdout.close)
            return producer.stdout
        stream = open(source, "rb")
        self.addCleanup(stream.close)
        return stream

    def test_endless_stdin_ends_every_action_that_reads_no_request(self):
        # The follow-up of `erase` reads no more than a request can hold.
        for action, source in [("erase", "yes"), ("erase", "/dev/zero"), ("store", "yes"),
                               ("unknown", "/dev/zero")]:
            with self.subTest(action=action, source=source):
                result = subprocess.run([LAUNCHER, action], stdin=self.endless_stdin(source),
                                        env=clean_env(HOME=self.home), capture_output=True,
                                        timeout=60)
                self.assertAnswer(result, b"")

    def test_get_keeps_no_more_of_endless_lines_than_a_request_holds(self):
        # The module reads on for as long as lines come; the launcher keeps
        # at most a request's worth of them, so its memory stays flat.
        env = clean_env(HOME=self.home)
        if "ASAN_OPTIONS" in env:
            # AddressSanitizer keeps freed memory from reuse for a while,
            # hundreds of MiB of it here; that is none of the launcher's.
            env["ASAN_OPTIONS"] += ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0"
        process = subprocess.Popen([LAUNCHER, "get"], stdin=self.endless_stdin("yes"),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        time.sleep(10)
        # The peak of the launcher's own memory since it started. The rusage
        # of a child would also count the test process it was forked from.
        with open("/proc/%d/status" % process.pid, encoding="ascii") as f:
            peak = re.search(r"^VmHWM:\s+(\d+) kB$", f.read(), re.M)
        self.assertIsNone(process.poll(), "the run ended by itself")
        self.assertLess(int(peak.group(1)) * 1024, 50 * 1024 * 1024)

    def test_reader_gone_before_the_answer(self):
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            result = subprocess.run([LAUNCHER, "get"], input=GITHUB_REQUEST, stdout=write_end,
                                    stderr=subprocess.PIPE, env=clean_env(HOME=self.home), timeout=60)
        finally:
            os.close(write_end)
        # The answer cannot be flushed: exit status 120, as python gives.
        self.assertEqual(result.returncode, 120, result.stderr)
        self.assertIn(b"BrokenPipeError", result.stderr)
        self.assertNotIn(TOKEN.encode(), result.stderr)


class HostileConfigTest(HostileCase):
    def assertSilent(self, label):
        with self.subTest(label):
            self.assertNoToken(self.helper())

    def write(self, raw):
        with open(config_path(self.home), "wb") as f:
            f.write(raw)

    def test_missing_empty_or_not_a_file(self):
        self.write(b"")
        self.assertSilent("empty")
        os.remove(config_path(self.home))
        self.assertSilent("missing")
        os.mkdir(config_path(self.home))
        self.assertSilent("a directory")
        os.rmdir(config_path(self.home))
        os.symlink(config_path(self.home), config_path(self.home))
        self.assertSilent("a symlink to itself")
        os.remove(config_path(self.home))
        other = os.path.join(self.home, b"other")
        os.symlink(config_path(self.home), other)
        os.symlink(other, config_path(self.home))
        self.assertSilent("a symlink loop")
        os.remove(config_path(self.home))
        os.symlink(os.path.join(self.home, b"nowhere"), config_path(self.home))
        self.assertSilent("a dangling symlink")
        shutil.rmtree(os.path.join(self.home, b".kestrune"))
        with open(os.path.join(self.home, b".kestrune"), "w") as f:
            f.write('{"github_token": "%s"}' % TOKEN)
        self.assertSilent(".kestrune a file")

    def test_unreadable(self):
        os.chmod(config_path(self.home), 0)
        if os.geteuid() != 0:
            self.assertSilent("mode 000")
            return
        # root reads any file: run without the capabilities that allow it.
        setpriv = shutil.which("setpriv")
        if not setpriv:
            self.skipTest("running as root and setpriv (util-linux) is missing")
        probe = subprocess.run([setpriv, "--bounding-set=-dac_override,-dac_read_search",
                                "cat", config_path(self.home)], capture_output=True)
        if probe.returncode == 0 or b"Permission denied" not in probe.stderr:
            self.skipTest("cannot drop the capabilities that let root read any file: "
                          + probe.stderr.decode(errors="replace"))
        result = subprocess.run(
            [setpriv, "--bounding-set=-dac_override,-dac_read_search", LAUNCHER, "get"],
            input=GITHUB_REQUEST, env=clean_env(HOME=self.home), capture_output=True, timeout=60)
        self.assertNoToken(result)

    def test_not_utf8(self):
        for label, raw in [("invalid byte in the token", b'{"github_token": "ghp_\xff"}'),
                           ("UTF-16", '{"github_token": "tok"}'.encode("utf-16")),
                           ("latin-1", '{"github_token": "t\u00f6k"}'.encode("latin-1")),
                           ("UTF-8 byte order mark", b'\xef\xbb\xbf{"github_token": "tok"}'),
                           ("encoded surrogate", b'{"github_token": "\xed\xa0\x80"}')]:
            self.write(raw)
            self.assertSilent(label)

    def test_deeply_nested(self):
        for label, raw in [
                ("arrays", b"[" * DEEP + b"]" * DEEP),
                ("objects", b'{"a": ' * DEEP + b"1" + b"}" * DEEP),
                ("in the token", b'{"github_token": ' + b"[" * DEEP + b"]" * DEEP + b"}"),
                ("before the token", b'{"a": ' + b"[" * DEEP + b"]" * DEEP
                 + b', "github_token": "tok"}'),
                ("unclosed", b'{"github_token": ' + b"[" * DEEP)]:
            self.write(raw)
            self.assertSilent(label)

    def test_nesting_around_the_recursion_limit(self):
        # As deep as the interpreter parses, and just past it: a nested token
        # is no str, so there is never an answer, and never a traceback.
        for depth in range(1440, 1560, 4):
            nested = b"[" * depth + b"]" * depth
            self.write(b'{"github_token": ' + nested + b"}")
            with self.subTest(depth=depth):
                self.assertNoToken(self.helper())

    def test_very_large(self):
        padding = b"x" * (32 * 1024 * 1024)
        self.write(b'{"padding": "' + padding + b'", "github_token": "' + TOKEN.encode() + b'"}')
        self.assertSilent("over 1 MiB")


class HostileEnvironmentTest(HostileCase):
    def user_config_exists(self, home):
        return os.path.exists(os.path.join(home, ".kestrune", "config.json"))

    def test_home_unset(self):
        # The password database names the home directory instead.
        home = pwd.getpwuid(os.getuid()).pw_dir
        result = self.helper(env=clean_env(), cwd=self.home)
        if not self.user_config_exists(home):
            self.assertNoToken(result)

    def test_home_empty(self):
        # "~/.kestrune/config.json" then stands for "/.kestrune/config.json".
        result = self.helper(env=clean_env(HOME=""), cwd=self.home)
        if not self.user_config_exists("/"):
            self.assertNoToken(result)

    def test_home_too_long_for_a_path(self):
        self.assertNoToken(self.helper(env=clean_env(HOME="/" + "h" * 100_000), cwd=self.home))

    def test_home_with_trailing_slashes(self):
        self.assertAnswer(self.helper(env=clean_env(HOME=self.home + b"///")), answer(TOKEN))


class HostileRepositoryTest(HostileCase):
    """Git runs the helper with the working directory at the root of the
    user's repository, which anyone may have written: nothing in it is read
    or followed, whatever the outcome of the run."""

    FOREIGN = "ghp_planted_by_the_repository"

    def repository(self, plant_script):
        repo = tempfile.mkdtemp(prefix="kestrune-repo-")
        self.addCleanup(shutil.rmtree, repo)
        os.mkdir(os.path.join(repo, "scripts"))
        plant_script(os.path.join(repo, "scripts", "git-credential-kestrune"))
        for home in (".", "x", "~"):
            os.makedirs(os.path.join(repo, home, ".kestrune"))
            with open(os.path.join(repo, home, ".kestrune", "config.json"), "w") as f:
                json.dump({"github_token": self.FOREIGN}, f)
        return repo

    def plants(self):
        """(name, function that plants the script file at a path)."""
        # The user's config pretty-printed: every line holds the token.
        pretty = os.path.join(self.home, b"pretty.json")
        with open(pretty, "w") as f:
            json.dump({"k%d" % i: TOKEN for i in range(100)}, f, indent=1)

        def text(path):
            with open(path, "w") as f:
                f.writelines("ATTACKER TEXT %d\n" % i for i in range(100))

        return [("text file", text), ("symlink to the config", lambda p: os.symlink(pretty, p)),
                ("symlink to /dev/zero", lambda p: os.symlink("/dev/zero", p)),
                ("FIFO", os.mkfifo)]

    def test_a_traceback_shows_no_source_line_from_the_repository(self):
        for name, plant in self.plants():
            with self.subTest(name):
                repo = self.repository(plant)
                # With standard input closed, sys.stdin is None: a traceback.
                result = subprocess.run(["sh", "-c", 'exec "$0" get <&-', LAUNCHER],
                                        env=clean_env(HOME=self.home), cwd=repo,
                                        capture_output=True, timeout=10)
                self.assertTraceback(result, b"TypeError: 'NoneType' object is not iterable")
                self.assertNotIn(b"ATTACKER", result.stderr)
                self.assertNotIn(TOKEN.encode(), result.stderr)
                self.assertIn(b'  File "scripts/git-credential-kestrune", line 34, in '
                              b"scripts.git_credential_kestrune._parse_input\nTypeError",
                              result.stderr)

    def test_a_relative_home_never_reads_the_repositorys_config(self):
        repo = self.repository(lambda path: None)
        for home in (".", "x", "~", "./x", "x/"):
            with self.subTest(home=home):
                result = self.helper(env=clean_env(HOME=home), cwd=repo)
                self.assertNoToken(result)
                self.assertTrue(result.stderr.endswith(b": not an absolute path ("
                                                       + os.fsencode(home).rstrip(b"/")
                                                       + b"/.kestrune/config.json)\n"))


class HostileCommandLineTest(HostileCase):
    def test_words_that_are_no_action(self):
        for args in ([""], [" get"], ["get "], ["get\n"], ["-c", "print('injected')"],
                     ["-m", "json.tool"], ["-i"], ["-"], ["--"], ["-I", "get"], ["-Xdev"],
                     ["g" * 100_000], ["\u0261et"]):
            with self.subTest(args=[a[:20] for a in args]):
                self.assertAnswer(self.helper(args), b"")

    def test_many_words_after_the_action(self):
        self.assertAnswer(self.helper(["get"] + ["x" * 100] * 5000), answer(TOKEN))
        self.assertAnswer(self.helper(["erase"] + ["get"] * 5000), b"")

    def test_unusual_program_names(self):
        for argv0 in ["", "\xff", "git-credential-kestrune" * 1000, "-c"]:
            with self.subTest(argv0=argv0[:20]):
                result = subprocess.run([argv0, "get"], executable=LAUNCHER, input=GITHUB_REQUEST,
                                        env=clean_env(HOME=self.home), capture_output=True,
                                        cwd=self.home, timeout=60)
                self.assertAnswer(result, answer(TOKEN))

    def test_no_words_at_all(self):
        # execve with an empty argv: sys.argv is then [""] and the action get.
        program = (
            "import ctypes, os, sys\n"
            "libc = ctypes.CDLL(None, use_errno=True)\n"
            "argv = (ctypes.c_char_p * 1)(None)\n"
            "env = [k.encode() + b'=' + v.encode() for k, v in os.environ.items()]\n"
            "envp = (ctypes.c_char_p * (len(env) + 1))(*env, None)\n"
            "libc.execve(os.fsencode(sys.argv[1]), argv, envp)\n"
            "sys.exit('execve: %s' % os.strerror(ctypes.get_errno()))\n")
        result = subprocess.run([sys.executable, "-I", "-c", program, LAUNCHER],
                                input=GITHUB_REQUEST, env=clean_env(HOME=self.home),
                                capture_output=True, cwd=self.home, timeout=60)
        self.assertAnswer(result, answer(TOKEN))


if __name__ == "__main__":
    unittest.main()
