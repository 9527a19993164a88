"""The launcher as a program: its own options, exit status, isolation from the
environment, byte-safe standard streams, and running after install."""
import fcntl
import os
import pty
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import sysconfig
import tempfile
import termios
import time
import unittest

import support
from launcher_support import (GITHUB_REQUEST, LAUNCHER, TOKEN, answer, clean_env, make_home,
                              opened_paths, run_launcher, run_traced)


class OptionsTest(unittest.TestCase):
    def setUp(self):
        self.home = make_home(self, {"github_token": TOKEN})

    def test_help_names_the_actions_the_config_file_and_the_options(self):
        outputs = []
        for option in ("--help", "-h"):
            result = run_launcher([option], GITHUB_REQUEST, home=self.home)
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            outputs.append(result.stdout)
        self.assertEqual(outputs[0], outputs[1])
        usage = outputs[0]
        self.assertTrue(usage.startswith(b"usage: git-credential-kestrune [get | store | erase]\n"))
        self.assertIn(b"~/.kestrune/config.json", usage)
        for option in (b"--setup", b"--remove", b"--status", b"--json", b"--dry-run", b"--global",
                       b"--system", b"--local", b"--file PATH"):
            self.assertIn(b"\n  " + option + b" ", usage)
        self.assertNotIn(TOKEN.encode(), usage)

    def test_unknown_options_and_wrong_combinations_exit_2(self):
        cases = [
            (["--bogus"], b"unknown option '--bogus'"),
            (["--get"], b"unknown option '--get'"),
            (["--setup", "-x"], b"unknown option '-x'"),
            (["--setup", "get"], b"unexpected argument 'get'"),
            (["--setup", "--remove"], b"'--setup' and '--remove' cannot be combined"),
            (["--dry-run"], b"give one of --setup, --remove and --status"),
            (["--setup", "--local", "--global"], b"only one of --global, --system, --local and --file can be given"),
            (["--remove", "--file"], b"--file needs a path"),
            (["--setup", "--file="], b"--file needs a path"),
            (["--setup", "--json"], b"'--json' goes with --status"),
            (["--status", "--global"], b"'--global' goes with --setup or --remove"),
            (["--status", "--dry-run"], b"'--dry-run' goes with --setup or --remove"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                result = run_launcher(args, GITHUB_REQUEST, home=self.home)
                self.assertEqual((result.returncode, result.stdout), (2, b""))
                self.assertEqual(result.stderr, b"git-credential-kestrune: " + message + b"\n"
                                 b"Try 'git-credential-kestrune --help' for more information.\n")

    def test_version_names_the_cpython_and_its_runtime(self):
        # The tests run under the CPython the launcher was built against.
        result = run_launcher(["--version"], GITHUB_REQUEST, home=self.home)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertRegex(result.stdout, rb"\Agit-credential-kestrune \d+\.\d+\.\d+\n")
        self.assertEqual(result.stdout.split(b"\n", 1)[1], b"CPython %s, the build machine's runtime (%s)\n"
                         % (sys.version.split()[0].encode(), os.fsencode(sys.base_prefix)))

    def test_options_after_the_action_are_not_the_launchers(self):
        result = run_launcher(["get", "--help"], GITHUB_REQUEST, home=self.home)
        self.assertEqual(result.stdout, answer(TOKEN))

    def test_words_that_are_no_action_at_a_terminal_name_the_options(self):
        # Only at a terminal: with a pipe, as git runs it, nothing is said
        # (test_hostile_input's words that are no action).
        options = b"the launcher's own options are --setup, --status and --help\n"
        unknown = (b"git-credential-kestrune: not an action, nothing done; git runs this helper with "
                   b"get, store or erase, and " + options)
        bare = (b"git-credential-kestrune: reading a credential request for 'get' (key=value lines, "
                b"then an empty line); " + options)
        typed = b"protocol=https\nhost=example.com\n\n"
        cases = [(["setup"], b"", unknown), (["status"], b"", unknown), (["-x"], b"", unknown),
                 ([""], b"", unknown), (["--"], b"", unknown), ([], typed, bare),
                 (["get"], typed, b""), (["store"], b"", b""), (["erase"], b"", b"")]
        for args, stdin, stderr in cases:
            with self.subTest(args=args):
                controller, terminal = pty.openpty()
                try:
                    os.write(controller, stdin)
                    result = subprocess.run([LAUNCHER, *args], stdin=terminal, capture_output=True,
                                            env=clean_env(HOME=self.home), timeout=60)
                finally:
                    os.close(terminal)
                    os.close(controller)
                self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", stderr))


class ExitStatusTest(unittest.TestCase):
    def test_uncaught_exception_prints_the_traceback_and_exits_1(self):
        # With standard input closed sys.stdin is None, which cannot be iterated.
        home = make_home(self, {"github_token": TOKEN})
        result = subprocess.run(["sh", "-c", 'exec "$0" get <&-', LAUNCHER],
                                env=clean_env(HOME=home), capture_output=True, timeout=60)
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertTrue(result.stderr.startswith(b"Traceback (most recent call last):\n"))
        self.assertIn(b'File "scripts/git-credential-kestrune", line 34, in '
                      b"scripts.git_credential_kestrune._parse_input\n", result.stderr)
        self.assertTrue(result.stderr.endswith(b"TypeError: 'NoneType' object is not iterable\n"))

    def test_output_that_cannot_be_flushed_at_exit_gives_120(self):
        home = make_home(self, {"github_token": TOKEN})
        with open("/dev/full", "wb") as full:
            result = subprocess.run([LAUNCHER, "get"], input=GITHUB_REQUEST, stdout=full,
                                    stderr=subprocess.PIPE, env=clean_env(HOME=home), timeout=60)
        self.assertEqual(result.returncode, 120)
        self.assertIn(b"No space left on device", result.stderr)


class ProcessTest(unittest.TestCase):
    """The launcher's process: blocked reading a request, as when git is slow
    to write one or the user presses Ctrl-C at a prompt."""

    def blocked(self, argv, env, cwd, **kwargs):
        """A running `argv` that has read the start of a request and waits for
        the rest."""
        process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=env, cwd=cwd, **kwargs)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        for stream in (process.stdin, process.stdout, process.stderr):
            self.addCleanup(stream.close)
        process.stdin.write(b"protocol=https\n")
        process.stdin.flush()
        deadline = time.monotonic() + 30
        while pipe_bytes(process.stdin) and time.monotonic() < deadline:
            time.sleep(0.005)
        self.assertEqual(pipe_bytes(process.stdin), 0, "%s never read its input" % argv[0])
        return process

    def blocked_launcher(self, action="get", **kwargs):
        """The launcher blocked: in the module for `get`, in the follow-up for
        `erase`."""
        home = make_home(self, {"github_token": TOKEN})
        return self.blocked([LAUNCHER, action], clean_env(HOME=home), home, **kwargs)

    def test_ctrl_c_ends_it_by_sigint_after_the_traceback(self):
        process = self.blocked_launcher()
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=30)
        self.assertEqual((process.returncode, stdout), (-signal.SIGINT, b""))
        self.assertTrue(stderr.endswith(b"\nKeyboardInterrupt\n"), stderr)

    def test_ctrl_c_in_the_erase_follow_up_ends_it_by_sigint(self):
        process = self.blocked_launcher("erase")
        process.send_signal(signal.SIGINT)
        self.assertEqual(process.communicate(timeout=30), (b"", b""))
        self.assertEqual(process.returncode, -signal.SIGINT)

    def test_ctrl_c_at_any_point_of_a_run_ends_it_by_sigint(self):
        # Each run is stopped at a later point, then gets SIGINT and goes on:
        # whatever it was doing (starting, in the module, in the follow-up,
        # flushing, ending), it ends by SIGINT.
        home = make_home(self, {"github_token": TOKEN})
        request = b"protocol=https\nhost=github.com\npassword=" + TOKEN.encode() + b"\n\n"
        for action in ("get", "store", "erase"):
            stopped = []
            for step in range(40):
                read_end, write_end = os.pipe()
                os.write(write_end, request)
                os.close(write_end)
                process = subprocess.Popen([LAUNCHER, action], stdin=read_end,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                           env=clean_env(HOME=home), cwd=home)
                os.close(read_end)
                time.sleep(step * 0.002)
                os.kill(process.pid, signal.SIGSTOP)
                _, status = os.waitpid(process.pid, os.WUNTRACED)
                if os.WIFSTOPPED(status):
                    stopped.append(step)
                    os.kill(process.pid, signal.SIGINT)
                    os.kill(process.pid, signal.SIGCONT)
                    _, status = os.waitpid(process.pid, 0)
                    with self.subTest(action=action, step=step):
                        self.assertTrue(os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGINT,
                                        "exit status %d" % os.waitstatus_to_exitcode(status))
                process.returncode = os.waitstatus_to_exitcode(status)
            self.assertTrue(stopped, action)

    def test_no_core_file(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_CORE)
        if hard != resource.RLIM_INFINITY and hard < 1 << 30:
            self.skipTest("core files are limited to %d bytes here" % hard)
        limit = lambda: resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))
        # The control: a dumpable process blocked the same way, under the same
        # limit, environment and core_pattern. Where even it leaves no core,
        # the launcher's result proves nothing. A core that the pattern puts
        # in its working directory is removed with the folder.
        folder = tempfile.mkdtemp(prefix="kestrune-core-")
        self.addCleanup(shutil.rmtree, folder)
        control = self.blocked(["cat"], clean_env(), folder, preexec_fn=limit)
        if not os.WCOREDUMP(quit_and_reap(control)):
            with open("/proc/sys/kernel/core_pattern") as f:
                pattern = f.read().strip()
            self.skipTest("a dumpable process sent SIGQUIT leaves no core here either "
                          "(core_pattern %r, or a sanitizer runtime)" % pattern)
        status = quit_and_reap(self.blocked_launcher(preexec_fn=limit))
        self.assertEqual(os.WTERMSIG(status), signal.SIGQUIT)
        self.assertFalse(os.WCOREDUMP(status))


def quit_and_reap(process):
    """Sends `process` SIGQUIT, whose default action dumps core, and reaps it;
    returns its wait status."""
    process.send_signal(signal.SIGQUIT)
    _, status = os.waitpid(process.pid, 0)
    process.returncode = -signal.SIGQUIT
    return status


def pipe_bytes(stream):
    """How many bytes wait unread in the pipe that `stream` writes to."""
    return struct.unpack("i", fcntl.ioctl(stream.fileno(), termios.FIONREAD, b"\0" * 4))[0]


class IsolationTest(unittest.TestCase):
    def test_environment_home_and_working_directory_cannot_inject_code(self):
        # The request is not ASCII, so an honoured PYTHONIOENCODING would show.
        home = make_home(self, {"github_token": TOKEN})
        marker = os.path.join(home, b"injected")
        payload = "open(%r, 'w').close()\n" % os.fsdecode(marker)
        trap = os.path.join(home, b"trap")
        user_site = os.path.join(home, b".local", b"lib", b"python3.12", b"site-packages")
        for directory in (trap, user_site):
            os.makedirs(directory)
            for name in (b"json.py", b"zlib.py", b"sitecustomize.py", b"usercustomize.py"):
                with open(os.path.join(directory, name), "w") as f:
                    f.write(payload)
        env = clean_env(
            HOME=home, PYTHONPATH=trap, PYTHONHOME=trap, PYTHONUSERBASE=os.path.join(home, b".local"),
            PYTHONSTARTUP=os.path.join(trap, b"json.py"), PYTHONINSPECT="1", PYTHONVERBOSE="1",
            PYTHONWARNINGS="error", PYTHONDEVMODE="1", PYTHONIOENCODING="ascii:strict",
            PYTHONUTF8="0", PYTHONSAFEPATH="0", PYTHONPLATLIBDIR="trap")
        request = b"note=t\xc3\xb6ken\n" + GITHUB_REQUEST
        result = run_launcher(["get"], request, env=env, cwd=trap)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, answer(TOKEN), b""))
        self.assertFalse(os.path.exists(marker))


class UndecodableBytesTest(unittest.TestCase):
    def test_bytes_that_are_not_utf8_never_crash_the_helper(self):
        home = make_home(self, {"github_token": TOKEN})
        cases = [
            (["get"], b"protocol=https\nnote=\xff\xfe\x80\nhost=github.com\n\n", answer(TOKEN)),
            (["get"], b"\xff=\xc3\nhost=github.com\n\n", answer(TOKEN)),
            (["get"], b"protocol=https\nhost=github.com\xff\n\n", b""),
            (["get"], b"protocol=https\xed\xa0\x80\nhost=github.com\n\n", b""),
            ([b"get\xff"], GITHUB_REQUEST, b""),
            ([b"get", b"\xff"], GITHUB_REQUEST, answer(TOKEN)),
        ]
        for locale in ({}, {"LC_ALL": "C"}, {"LANG": "POSIX"}, {"LC_ALL": "en_US.ISO-8859-1"}):
            for args, stdin, expected in cases:
                with self.subTest(locale=locale, args=args, stdin=stdin):
                    result = run_launcher(args, stdin, env=clean_env(HOME=home, **locale), cwd=home)
                    self.assertEqual((result.returncode, result.stdout, result.stderr),
                                     (0, expected, b""))

    def test_home_that_is_not_utf8_round_trips_as_bytes(self):
        home = make_home(self, {"github_token": TOKEN}, name=b"h\xe9me")
        result = run_launcher(["get"], GITHUB_REQUEST, env=clean_env(HOME=home, LC_ALL="C"), cwd=home)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, answer(TOKEN), b""))


class InstallTest(unittest.TestCase):
    def test_runs_from_a_moved_install_prefix_with_no_environment(self):
        base = tempfile.mkdtemp(prefix="kestrune-install-")
        self.addCleanup(shutil.rmtree, base)
        prefix = os.path.join(base, "prefix")
        subprocess.run(["cmake", "--install", support.BINARY_DIR, "--prefix", prefix],
                       check=True, capture_output=True, timeout=120)
        # The manifest lists every file installed, so that removing what it
        # lists uninstalls (docs/install.md).
        with open(os.path.join(support.BINARY_DIR, "install_manifest.txt"), encoding="utf-8") as f:
            manifest = sorted(os.path.relpath(line, prefix) for line in f.read().splitlines())
        installed = sorted(os.path.relpath(os.path.join(folder, name), prefix)
                           for folder, _, names in os.walk(prefix) for name in names)
        self.assertEqual(manifest, installed)
        site = os.path.join("lib", "python3.12", "site-packages")
        module = "git_credential_kestrune" + sysconfig.get_config_var("EXT_SUFFIX")
        self.assertLessEqual({os.path.join("bin", "git-credential-kestrune"),
                              os.path.join(site, module),
                              os.path.join(site, "git_credential_kestrune.pyi")}, set(installed))

        moved = os.path.join(base, "moved")
        os.rename(prefix, moved)
        launcher = os.path.join(moved, "bin", "git-credential-kestrune")
        manual = os.path.join(moved, "share", "man", "man1", "git-credential-kestrune.1.gz")
        self.assertTrue(os.path.isfile(manual))
        if shutil.which("man"):
            # man, and so `git help credential-kestrune`, finds it from PATH.
            found = subprocess.run(["man", "-w", "git-credential-kestrune"], capture_output=True,
                                   env=clean_env(PATH=os.path.join(moved, "bin") + os.pathsep
                                                 + os.environ["PATH"]), timeout=60)
            self.assertEqual(found.stdout.strip(), os.fsencode(manual))

        home = make_home(self, {"github_token": TOKEN})
        result = run_launcher(["get"], GITHUB_REQUEST, home=home, launcher=launcher)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, answer(TOKEN), b""))
        result = run_launcher(["erase"], env=clean_env(), launcher=launcher, cwd=base)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
        imported = support.run_python(
            "import git_credential_kestrune as m; print(m.__file__)",
            env={"PYTHONPATH": os.path.join(moved, site)})
        self.assertEqual(imported.stdout, os.path.join(moved, site, module) + "\n", imported.stderr)


STDLIB = os.path.realpath(sysconfig.get_path("stdlib"))


def opened_files(argv, stdin, env):
    """Runs argv under strace; returns its exit status, its stdout and the
    paths of the files that it opened."""
    result, lines = run_traced(argv, stdin, env, ["-e", "trace=open,openat,openat2"])
    return result.returncode, result.stdout, opened_paths(lines)


@unittest.skipUnless(os.environ.get("KESTRUNE_STATIC_LAUNCHER") == "ON",
                     "this build's launcher loads libpython3.12.so and freezes no module")
@unittest.skipUnless(shutil.which("strace"), "strace is not installed")
class FrozenModulesTest(unittest.TestCase):
    def test_runs_read_no_pure_python_module_from_the_standard_library(self):
        # Whatever the frozen table lacks, a run reads from disk: a module
        # that the helper comes to import without a rebuild shows up here.
        home = make_home(self, {"github_token": TOKEN})
        runs = [(["get"], GITHUB_REQUEST, answer(TOKEN)),
                (["get"], b"protocol=https\nhost=example.com\n\n", b""),
                (["store"], GITHUB_REQUEST, b""), (["erase"], b"", b"")]
        for args, request, expected in runs:
            with self.subTest(args=args, request=request):
                status, stdout, opened = opened_files([LAUNCHER, *args], request,
                                                      clean_env(HOME=home))
                self.assertEqual((status, stdout), (0, expected))
                self.assertIn(os.path.join(STDLIB, "lib-dynload"),
                              [os.path.realpath(os.path.dirname(p)) for p in opened],
                              "the trace shows no import of an extension module")
                from_disk = [p for p in opened if p.endswith((".py", ".pyc"))
                             and os.path.realpath(p).startswith(STDLIB + os.sep)]
                self.assertEqual(from_disk, [])


class MainJobTest(unittest.TestCase):
    @unittest.skipIf("ASAN_OPTIONS" in os.environ,
                     "run-demo runs the launcher without the sanitizer settings")
    def test_run_demo_prints_the_answer(self):
        # --launcher: the launcher under test, and no build, which could
        # relink it under the other tests that run at the same time.
        result = subprocess.run([os.path.join(support.SOURCE_DIR, "run-demo"),
                                 "--launcher", LAUNCHER], capture_output=True, timeout=600)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout,
                         rb"\n--- answer ---\nusername=x-access-token\npassword=ghp_\w+\n\n\Z")

    def test_the_demo_build_looks_for_no_test_tool(self):
        # run-demo builds the demo preset: configuring it must not look for
        # GoogleTest, Google Benchmark or valgrind, which only the tests need.
        build = tempfile.mkdtemp(prefix="kestrune-demo-")
        self.addCleanup(shutil.rmtree, build)
        env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
        result = subprocess.run(["cmake", "--preset", "demo", "-B", build,
                                 "-DPython3_EXECUTABLE=" + support.PYTHON],
                                cwd=support.SOURCE_DIR, env=env, capture_output=True, text=True,
                                timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
            cache = f.read()
        self.assertIn("\nKESTRUNE_BUILD_TESTS:BOOL=OFF\n", cache)
        self.assertNotRegex(cache, r"(?m)^(GTest_DIR|benchmark_DIR|VALGRIND)[:=]")


class CompletionTest(unittest.TestCase):
    """The bash completion of the launcher's words (packaging/)."""

    SCRIPT = os.path.join(support.SOURCE_DIR, "packaging", "git-credential-kestrune.bash")

    def complete(self, *words):
        """What bash offers for the last of `words`, typed after the command."""
        program = ('source "$0"; COMP_WORDS=(git-credential-kestrune "$@"); '
                   'COMP_CWORD=$#; _git_credential_kestrune; printf "%s\\n" "${COMPREPLY[@]}"')
        result = subprocess.run(["bash", "--norc", "-c", program, self.SCRIPT, *words],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.stderr, "")
        return result.stdout.split()

    def test_each_word_offers_what_may_follow(self):
        cases = [
            ([""], "get store erase --setup --remove --status --help --version"),
            (["--s"], "--setup --status"),
            (["--setup", ""], "--global --system --local --file --dry-run"),
            (["--remove", "--local", ""], "--dry-run"),
            (["--setup", "--dry-run", "--f"], "--file"),
            (["--status", ""], "--json"),
            (["--status", "--json", ""], ""),
            (["--global", ""], "--setup --remove"),
            (["--json", ""], "--status"),
            (["get", ""], ""),
            (["--version", ""], ""),
            (["--setup", "--file", os.path.join(support.SOURCE_DIR, "packaging", "git-cred")],
             self.SCRIPT),
            (["--setup", "--file", "=", os.path.join(support.SOURCE_DIR, "run-d")],
             os.path.join(support.SOURCE_DIR, "run-demo")),
        ]
        for words, offered in cases:
            with self.subTest(words=words):
                self.assertEqual(self.complete(*words), offered.split())

    def test_every_option_of_the_help_is_offered(self):
        usage = run_launcher(["--help"], home=make_home(self)).stdout.decode()
        options = set(re.findall(r"(?m)^  (?:-h, )?(--[a-z-]+)", usage))
        offered = set()
        for words in ([""], ["--setup", ""], ["--status", ""]):
            offered.update(self.complete(*words))
        self.assertEqual(options - offered, set())

if __name__ == "__main__":
    unittest.main()
