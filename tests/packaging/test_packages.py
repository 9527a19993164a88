"""The packages as users get them: the tarball and the .deb that `cpack` makes
of the bundled build, and `pip install .` into a fresh virtual environment.

Each class is one ctest case (label `packaging`). PackageBuild is their
fixture: it configures and builds the package preset's settings in a folder
of its own (KESTRUNE_PACKAGE_BUILD_DIR), never in the tree the other tests
use, and runs cpack there.

A bundled launcher must answer every kind of run with nothing of the CPython
it was built from: as root the tests run it in a mount namespace where an
empty folder hides that CPython's prefix; otherwise they say so and skip
those runs. Either way its sys.path holds only its own runtime, so a module
the bundle lacks fails the run.
"""
import functools
import glob
import gzip
import json
import os
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from launcher_support import (GITHUB_REQUEST, TOKEN, answer, clean_env, config_path,  # noqa: E402
                              make_home, no_token_line, opened_paths, rejected_token_line,
                              run_traced)

SOURCE_DIR = os.environ.get("KESTRUNE_SOURCE_DIR", "")
PYTHON = os.environ.get("KESTRUNE_PYTHON", sys.executable)
PACKAGE_BUILD_DIR = os.environ.get("KESTRUNE_PACKAGE_BUILD_DIR", "")
DEVELOPMENT_LAUNCHER = os.environ.get("KESTRUNE_LAUNCHER", "")
_PREFIX, _VERSION = subprocess.run(
    [PYTHON, "-I", "-S", "-c", "import sys; print(sys.base_prefix); "
     "print(sys.version.split()[0])"],
    capture_output=True, text=True, check=True).stdout.splitlines()
CPYTHON_PREFIX = os.path.realpath(_PREFIX)
# What --version prints from a bundled launcher: the CPython linked in is the
# one it was built from.
VERSION_OUTPUT = b"git-credential-kestrune 1.0.0\nCPython %s, bundled runtime\n" % _VERSION.encode()
CONFIG = json.dumps({"github_token": TOKEN}).encode()
GIT_ANSWER = GITHUB_REQUEST[:-1] + b"username=x-access-token\npassword=" + TOKEN.encode() + b"\n\n"


def no_token(reason):
    return functools.partial(no_token_line, reason)


# What users and git do, written from the helper's documented behaviour and
# not from the runs the bundle was traced on, so that a module the bundle
# lacks on any of them fails here. Each: (arguments, the config file's bytes
# or None for none, stdin or None for a closed stdin, exit status or None for
# the development launcher's, stdout or None to leave it unchecked, and for
# status 0 the stderr line by the config file's path, or None for nothing).
# The launcher's own tools answer by the machine's git set-up, so the
# development launcher says what status to expect.
RUNS = [
    # git fetching from GitHub, from one of its subdomains, with no action
    # word, and from another host.
    (["get"], CONFIG, GITHUB_REQUEST, 0, answer(TOKEN), None),
    (["get"], CONFIG, b"protocol=https\nhost=api.github.com\npath=o/r.git\n\n", 0,
     answer(TOKEN), None),
    ([], CONFIG, GITHUB_REQUEST, 0, answer(TOKEN), None),
    (["get"], CONFIG, b"protocol=https\nhost=gitlab.example\n\n", 0, b"", None),
    # No answer for GitHub: never signed in, a config file that is not UTF-8,
    # a token that would break the answer's lines. The follow-up says why.
    (["get"], None, GITHUB_REQUEST, 0, b"", no_token("no such file")),
    (["get"], b'{"github_token": "\xff"}', GITHUB_REQUEST, 0, b"", no_token("not valid JSON")),
    (["get"], json.dumps({"github_token": TOKEN + "\nusername=x"}).encode(), GITHUB_REQUEST, 0,
     b"", no_token("github_token contains whitespace or a line break")),
    # git storing the answer that worked, and erasing it when GitHub
    # rejected it: the follow-up tells the user to sign in again.
    (["store"], CONFIG, GIT_ANSWER, 0, b"", None),
    (["erase"], CONFIG, GIT_ANSWER, 0, b"", rejected_token_line),
    # A closed stdin: the traceback of the uncaught exception.
    (["get"], CONFIG, None, 1, b"", None),
    (["--version"], CONFIG, b"", 0, VERSION_OUTPUT, None),
    (["--help"], CONFIG, b"", 0, None, None),
    (["--status"], CONFIG, b"", None, None, None),
    (["--status", "--json"], None, b"", None, None, None),
    (["--setup", "--dry-run"], CONFIG, b"", None, None, None),
    (["--remove", "--dry-run"], CONFIG, b"", None, None, None),
]


def hidden_prefix_reason():
    """Why the prefix cannot be hidden here, or None when it can."""
    if os.geteuid() != 0:
        return "hiding the CPython prefix needs root (unshare -m and a bind mount)"
    if not shutil.which("unshare"):
        return "hiding the CPython prefix needs unshare (Debian: util-linux)"
    return None


def run(launcher, args, stdin, home, hide_prefix):
    """Runs `launcher` as git would; with `hide_prefix`, in a mount namespace
    where the CPython prefix is an empty folder."""
    argv = [launcher, *args]
    if stdin is None:
        argv = ["sh", "-c", 'exec "$0" "$@" <&-', *argv]
    if hide_prefix:
        empty = tempfile.mkdtemp(prefix="kestrune-empty-")
        try:
            argv = ["unshare", "-m", "sh", "-c",
                    'mount --bind "$0" "$1" && shift && exec "$@"',
                    empty, CPYTHON_PREFIX, *argv]
            return subprocess.run(argv, input=stdin, env=clean_env(HOME=home), cwd=home,
                                  capture_output=True, timeout=120)
        finally:
            os.rmdir(empty)
    return subprocess.run(argv, input=stdin, env=clean_env(HOME=home), cwd=home,
                          capture_output=True, timeout=120)


class BundledLauncherChecks:
    """What every installed bundled launcher must have and answer."""

    def check_man_page(self, prefix):
        source = os.path.join(SOURCE_DIR, "docs", "git-credential-kestrune.1")
        installed = os.path.join(prefix, "share", "man", "man1", "git-credential-kestrune.1.gz")
        if not os.path.exists(source):
            self.assertFalse(os.path.exists(installed))
            return
        with open(source, "rb") as f, gzip.open(installed) as packed:
            self.assertEqual(packed.read(), f.read())

    def check_share(self, prefix, files):
        """Each (path under `prefix`, path under the source tree) pair holds
        the same bytes."""
        for installed, source in files:
            with self.subTest(installed=installed):
                with open(os.path.join(prefix, installed), "rb") as f, \
                        open(os.path.join(SOURCE_DIR, source), "rb") as g:
                    self.assertEqual(f.read(), g.read())

    def check_runs(self, launcher, hide_prefix):
        for args, config, stdin, status, stdout, stderr in RUNS:
            with self.subTest(args=args, config=config, stdin=stdin, hide_prefix=hide_prefix):
                home = make_home(self, raw=config)
                result = run(launcher, args, stdin, home, hide_prefix)
                if status is None:
                    expected = run(DEVELOPMENT_LAUNCHER, args, stdin, home, False)
                    self.assertEqual(result.returncode, expected.returncode, result.stderr)
                    self.assertNotIn(b"Traceback", result.stderr)
                    if "--json" in args:
                        self.assertEqual(json.loads(result.stdout), json.loads(expected.stdout))
                    continue
                self.assertEqual(result.returncode, status, result.stderr)
                if stdout is not None:
                    self.assertEqual(result.stdout, stdout)
                if status == 0:
                    self.assertEqual(result.stderr, stderr(config_path(home)) if stderr else b"")
                else:
                    self.assertTrue(result.stderr.endswith(
                        b"TypeError: 'NoneType' object is not iterable\n"), result.stderr)

    def check_launcher(self, launcher):
        self.check_runs(launcher, hide_prefix=False)
        reason = hidden_prefix_reason()
        if reason:
            self.skipTest(reason)
        self.check_runs(launcher, hide_prefix=True)

    def check_runtime(self, runtime):
        with open(os.path.join(runtime, "LICENSE.txt"), "rb") as f:
            licence = f.read()
        with open(os.path.join(CPYTHON_PREFIX, "lib", "python3.12", "LICENSE.txt"), "rb") as f:
            self.assertEqual(licence, f.read())
        with open(os.path.join(runtime, "modules.txt"), encoding="utf-8") as f:
            modules = set(f.read().splitlines())
        # What every run loads at the least: the extension modules that the
        # helper imports (the pure-Python ones are frozen into the launcher).
        self.assertLessEqual({"extension zlib", "extension _json"}, modules)
        extensions = os.path.join(runtime, "lib", "python3.12", "lib-dynload")
        for name in os.listdir(extensions):
            dynamic = subprocess.run(["readelf", "-d", os.path.join(extensions, name)],
                                     capture_output=True, text=True, check=True).stdout
            self.assertNotRegex(dynamic, r"R(UN)?PATH", name)


# What the installs put under share/ besides the man page, and where it
# comes from in the source tree.
COMPLETION = ("share/bash-completion/completions/git-credential-kestrune",
              "packaging/git-credential-kestrune.bash")
LICENCE = ("share/doc/git-credential-kestrune/LICENSE", "LICENSE")


class PackageBuild(unittest.TestCase):
    def test_configure_build_and_cpack(self):
        build = PACKAGE_BUILD_DIR
        subprocess.run(["cmake", "-S", SOURCE_DIR, "-B", build, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DKESTRUNE_BUNDLE=ON",
                        "-DKESTRUNE_BUILD_TESTS=OFF", "-DKESTRUNE_BUILD_BENCH=OFF",
                        "-DPython3_EXECUTABLE=" + PYTHON], check=True, timeout=300)
        subprocess.run(["cmake", "--build", build], check=True, timeout=1200)
        for old in glob.glob(os.path.join(build, "git-credential-kestrune*.*")):
            os.remove(old)
        subprocess.run(["cpack", "-G", "TGZ;DEB"], cwd=build, check=True, timeout=600)


def package(pattern):
    found = glob.glob(os.path.join(PACKAGE_BUILD_DIR, pattern))
    if len(found) != 1:
        raise AssertionError("expected one %s in %s, found %s" % (pattern, PACKAGE_BUILD_DIR, found))
    return found[0]


class TarballTest(BundledLauncherChecks, unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="kestrune-tarball-")
        self.addCleanup(shutil.rmtree, self.root)
        with tarfile.open(package("git-credential-kestrune-*.tar.gz")) as archive:
            archive.extractall(self.root, filter="tar")
        (top,) = os.listdir(self.root)
        self.prefix = os.path.join(self.root, top)

    def test_layout(self):
        site = os.path.join(self.prefix, "lib", "python3.12", "site-packages")
        self.assertEqual(sorted(os.listdir(site)),
                         ["git_credential_kestrune.cpython-312-x86_64-linux-gnu.so",
                          "git_credential_kestrune.pyi"])
        self.check_runtime(os.path.join(self.prefix, "lib", "git-credential-kestrune"))
        self.check_man_page(self.prefix)
        self.check_share(self.prefix, [COMPLETION, LICENCE])
        launcher = os.path.join(self.prefix, "bin", "git-credential-kestrune")
        dynamic = subprocess.run(["readelf", "-d", launcher], capture_output=True, text=True,
                                 check=True).stdout
        self.assertNotIn("libpython", dynamic)
        self.assertNotRegex(dynamic, r"R(UN)?PATH")

    def test_answers_from_anywhere(self):
        self.check_launcher(os.path.join(self.prefix, "bin", "git-credential-kestrune"))

    def test_a_launcher_without_its_runtime_says_so(self):
        alone = os.path.join(self.root, "alone")
        os.makedirs(alone)
        launcher = shutil.copy(os.path.join(self.prefix, "bin", "git-credential-kestrune"), alone)
        home = make_home(self, {"github_token": TOKEN})
        result = run(launcher, ["get"], GITHUB_REQUEST, home, hide_prefix=False)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (
            1, b"", b"git-credential-kestrune: its runtime is missing: "
            + os.fsencode(self.root) + b"/alone/../lib/git-credential-kestrune/lib/python3.12/lib-dynload\n"))
        # The options need no interpreter.
        result = run(launcher, ["--version"], b"", home, hide_prefix=False)
        self.assertEqual((result.returncode, result.stdout), (0, VERSION_OUTPUT))

    @unittest.skipUnless(shutil.which("strace"), "strace is not installed")
    def test_a_traceback_through_a_frozen_module_opens_no_file(self):
        # SIGINT at the read of the config file, which json.load makes: the
        # KeyboardInterrupt runs out through the frozen json package. strace
        # sends it at that read, counted in a first run.
        launcher = os.path.join(self.prefix, "bin", "git-credential-kestrune")
        home = make_home(self, {"github_token": TOKEN})
        config = os.fsdecode(config_path(home))
        env = clean_env(HOME=home)
        _, lines = run_traced([launcher, "get"], GITHUB_REQUEST, env, ["-e", "trace=openat,read"])
        opened = next(n for n, line in enumerate(lines) if '"%s"' % config in line)
        reads = [n for n, line in enumerate(lines) if " read(" in line]
        config_read = next(k for k, n in enumerate(reads) if n > opened) + 1
        result, lines = run_traced(
            [launcher, "get"], GITHUB_REQUEST, env,
            ["-e", "trace=open,openat,openat2,read",
             "-e", "inject=read:signal=SIGINT:when=%d" % config_read])
        self.assertEqual(result.returncode, -signal.SIGINT, result.stderr)
        self.assertRegex(result.stderr, rb'\n  File "<frozen json>", line \d+, in load\n  File ')
        self.assertTrue(result.stderr.endswith(b"\nKeyboardInterrupt\n"), result.stderr)
        interrupted = next(n for n, line in enumerate(lines) if "--- SIGINT" in line)
        tried = opened_paths(lines[interrupted:], failed=True)
        self.assertEqual([p for p in tried if p.endswith(".py")], [])


class DebTest(BundledLauncherChecks, unittest.TestCase):
    def setUp(self):
        self.deb = package("git-credential-kestrune_*.deb")

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], capture_output=True,
                              text=True, check=True).stdout.strip()

    def test_control_fields_and_lintian(self):
        depends = {d.split(" ")[0] for d in self.field("Depends").split(", ")}
        # git runs the helper; the libraries come from dpkg-shlibdeps.
        self.assertLessEqual({"git", "libc6", "zlib1g"}, depends)
        self.assertEqual((self.field("Package"), self.field("Section")),
                         ("git-credential-kestrune", "vcs"))
        if not shutil.which("lintian"):
            self.skipTest("lintian is not installed (.ci/run installs it)")
        result = subprocess.run(["lintian", "--fail-on", "error", self.deb],
                                capture_output=True, text=True, timeout=600)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^E: ")

    def test_answers_from_an_unpacked_root(self):
        root = tempfile.mkdtemp(prefix="kestrune-deb-")
        self.addCleanup(shutil.rmtree, root)
        subprocess.run(["dpkg-deb", "-x", self.deb, root], check=True)
        docs = os.path.join(root, "usr", "share", "doc", "git-credential-kestrune")
        self.assertEqual(sorted(os.listdir(docs)), ["changelog.Debian.gz", "copyright"])
        with open(os.path.join(docs, "copyright"), encoding="utf-8") as f:
            copyright = f.read()
        self.assertIn("\nLicense: PSF-2.0\n A. HISTORY OF THE SOFTWARE\n", copyright)
        self.assertIn("\n PYTHON SOFTWARE FOUNDATION LICENSE VERSION 2\n", copyright)
        # The project's own code: the MIT licence, from LICENSE.
        self.assertIn("\nFiles: *\nCopyright: 2026 The Kestrune developers\nLicense: Expat\n",
                      copyright)
        self.assertIn("\nLicense: Expat\n Permission is hereby granted, free of charge,",
                      copyright)
        self.assertIn("\n SOFTWARE.\n\nLicense: PSF-2.0\n", copyright)
        self.assertNotIn("proprietary", copyright)
        self.check_runtime(os.path.join(root, "usr", "lib", "git-credential-kestrune"))
        self.check_man_page(os.path.join(root, "usr"))
        self.check_share(os.path.join(root, "usr"), [COMPLETION])
        self.check_launcher(os.path.join(root, "usr", "bin", "git-credential-kestrune"))


class PrefixInstallTest(unittest.TestCase):
    def install(self, prefix):
        subprocess.run(["cmake", "--install", PACKAGE_BUILD_DIR, "--prefix", prefix],
                       check=True, capture_output=True, timeout=300)

    def uninstall(self):
        return subprocess.run(["cmake", "-P", os.path.join(PACKAGE_BUILD_DIR, "uninstall.cmake")],
                              check=True, capture_output=True, text=True, timeout=300).stdout

    def test_uninstall_removes_what_the_install_created_and_nothing_else(self):
        scratch = tempfile.mkdtemp(prefix="kestrune-prefix-")
        self.addCleanup(shutil.rmtree, scratch)
        top = os.path.join(scratch, "top")
        # (the prefix under top/, what top/ holds before the install, what
        # the uninstall leaves there or None for no top/ at all): a prefix
        # that the install creates with its parents; a bin/ holding another
        # program and an empty man/man1 of the user's.
        cases = [
            ("parent/prefix", [], None),
            ("", ["bin/other", "share/man/man1/"], ["bin/other", "share/man/man1/"]),
        ]
        for prefix, before, left in cases:
            with self.subTest(prefix=prefix, before=before):
                for path in before:
                    os.makedirs(os.path.dirname(os.path.join(top, path)), exist_ok=True)
                    if not path.endswith("/"):
                        open(os.path.join(top, path), "w").close()
                self.install(os.path.join(top, prefix))
                self.assertTrue(os.path.isdir(os.path.join(
                    top, prefix, "lib/git-credential-kestrune/lib/python3.12/lib-dynload")))
                self.uninstall()
                self.assertEqual(tree(top) if os.path.exists(top) else None, left)
                shutil.rmtree(top, ignore_errors=True)

    def test_a_second_install_over_the_first_is_uninstalled_whole(self):
        scratch = tempfile.mkdtemp(prefix="kestrune-prefix-")
        self.addCleanup(shutil.rmtree, scratch)
        prefix = os.path.join(scratch, "prefix")
        self.install(prefix)
        self.install(prefix)
        self.uninstall()
        self.assertEqual(os.listdir(scratch), [])


def tree(top):
    """The files under `top`, and its empty folders with a final slash."""
    found = []
    for folder, dirs, names in os.walk(top):
        relative = os.path.relpath(folder, top)
        if not dirs and not names:
            found.append(relative + "/")
        found.extend(os.path.normpath(os.path.join(relative, n)) for n in names)
    return sorted(found)


class PipTest(unittest.TestCase):
    def test_pip_install_into_a_fresh_venv_and_uninstall(self):
        scratch = tempfile.mkdtemp(prefix="kestrune-venv-")
        self.addCleanup(shutil.rmtree, scratch)
        venv = os.path.join(scratch, "venv")
        subprocess.run([PYTHON, "-m", "venv", venv], check=True, timeout=300)
        python = os.path.join(venv, "bin", "python")
        # No index, no cache, no configuration of the machine's: what pip
        # needs comes from the source tree and the venv alone.
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": scratch,
               "PIP_CONFIG_FILE": os.devnull}
        subprocess.run([python, "-m", "pip", "install", "--no-index", "--no-cache-dir",
                        SOURCE_DIR], env=env, check=True, timeout=1200)

        site = subprocess.run(
            [python, "-I", "-c", "import git_credential_kestrune as m, os; "
             "print(os.path.dirname(m.__file__)); print(m.CONFIG_PATH)"],
            env={"HOME": scratch}, capture_output=True, text=True, check=True).stdout.split("\n")
        self.assertEqual(site[0], os.path.join(venv, "lib", "python3.12", "site-packages"))
        self.assertEqual(site[1], os.path.join(scratch, ".kestrune", "config.json"))
        self.assertTrue(os.path.isfile(os.path.join(site[0], "git_credential_kestrune.pyi")))
        dist_info = os.path.join(site[0], "git_credential_kestrune-1.0.0.dist-info")
        with open(os.path.join(dist_info, "METADATA"), encoding="utf-8") as f:
            metadata = f.read()
        self.assertIn("\nLicense: MIT\n", metadata)
        self.assertIn("\nRequires-Python: ==3.12.*\n", metadata)
        self.check_licence(os.path.join(dist_info, "licenses", "LICENSE"))

        home = make_home(self, {"github_token": TOKEN})
        launcher = os.path.join(venv, "bin", "git-credential-kestrune")
        result = run(launcher, ["get"], GITHUB_REQUEST, home, hide_prefix=False)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (0, answer(TOKEN), b""))

        subprocess.run([python, "-m", "pip", "uninstall", "-y", "git-credential-kestrune"],
                       env=env, check=True, capture_output=True, timeout=300)
        self.assertFalse(os.path.exists(launcher))
        self.assertFalse(os.path.exists(os.path.join(venv, "lib", "git-credential-kestrune")))
        self.assertEqual(sorted(n for n in os.listdir(site[0]) if "kestrune" in n), [])

    def check_licence(self, path):
        with open(path, "rb") as f, open(os.path.join(SOURCE_DIR, "LICENSE"), "rb") as g:
            self.assertEqual(f.read(), g.read())

    def test_pip_on_another_python_refuses_before_building(self):
        other = shutil.which("python3")
        version = subprocess.run([other, "-c", "import sys; print(sys.version_info[:2])"],
                                 capture_output=True, text=True).stdout if other else ""
        if not version or version.strip() == "(3, 12)":
            self.skipTest("no python3 but CPython 3.12 on PATH")
        scratch = tempfile.mkdtemp(prefix="kestrune-venv-")
        self.addCleanup(shutil.rmtree, scratch)
        venv = os.path.join(scratch, "venv")
        if subprocess.run([other, "-m", "venv", venv], capture_output=True).returncode:
            self.skipTest("%s has no venv (Debian: python3-venv)" % other)
        # No cmake on PATH: a build started anyway would fail differently.
        env = {"PATH": "/nonexistent", "HOME": scratch, "PIP_CONFIG_FILE": os.devnull}
        result = subprocess.run([os.path.join(venv, "bin", "python"), "-m", "pip", "install",
                                 "--no-index", "--no-cache-dir", SOURCE_DIR],
                                env=env, capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertRegex(result.stderr, r"ERROR: Package 'git-credential-kestrune' requires a "
                         r"different Python: 3\.\d+\.\d+ not in '==3\.12\.\*'")
        self.assertNotIn("Building wheel", result.stdout)

    def test_sdist_through_debian_python3_build(self):
        # Debian's `build` runs under CPython 3.12 given Debian's package path;
        # the sdist is what it builds the wheel from.
        debian_path = "/usr/lib/python3/dist-packages"
        if not os.path.isdir(os.path.join(debian_path, "build")):
            self.skipTest("python3-build is not installed (.ci/run installs it)")
        out = tempfile.mkdtemp(prefix="kestrune-sdist-")
        self.addCleanup(shutil.rmtree, out)
        subprocess.run([PYTHON, "-m", "build", "--sdist", "--no-isolation", "--outdir", out,
                        SOURCE_DIR], env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                                          "PYTHONPATH": debian_path, "HOME": out},
                       check=True, capture_output=True, timeout=300)
        (sdist,) = os.listdir(out)
        self.assertEqual(sdist, "git_credential_kestrune-1.0.0.tar.gz")
        top = "git_credential_kestrune-1.0.0/"
        names = sdist_files(os.path.join(out, sdist), top)
        self.assertLessEqual({"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "LICENSE",
                              "packaging/kestrune_build.py",
                              "scripts/git_credential_kestrune.pyi"}, set(names))
        listed = subprocess.run(["git", "-C", SOURCE_DIR, "ls-files", "-z"],
                                capture_output=True, text=True)
        if listed.returncode == 0:
            # Exactly what git tracks, and the PKG-INFO the backend writes.
            tracked = [n for n in listed.stdout.split("\0")
                       if n and os.path.lexists(os.path.join(SOURCE_DIR, n))]
            self.assertEqual(names, sorted(tracked + ["PKG-INFO"]))

        # Outside a git checkout, an sdist of the unpacked sdist: the same
        # files, without what .gitignore names.
        unpacked = os.path.join(out, "unpacked")
        with tarfile.open(os.path.join(out, sdist)) as archive:
            archive.extractall(unpacked, filter="tar")
        source = os.path.join(unpacked, top)
        os.remove(os.path.join(source, "PKG-INFO"))
        for ignored in ("build/default/x", "out/x", "packaging/__pycache__/x.pyc", "bench/y.pyc"):
            os.makedirs(os.path.dirname(os.path.join(source, ignored)), exist_ok=True)
            open(os.path.join(source, ignored), "w").close()
        again = os.path.join(out, "again")
        subprocess.run([PYTHON, "-I", "-c", "import sys; sys.path.insert(0, sys.argv[1]); "
                        "import kestrune_build; kestrune_build.build_sdist(sys.argv[2])",
                        os.path.join(source, "packaging"), again],
                       env={"PATH": "/nonexistent"}, check=True, timeout=300)
        self.assertEqual(sdist_files(os.path.join(again, sdist), top), names)


def sdist_files(path, top):
    """The names in the sdist at `path`, below its top folder `top`, sorted;
    fails on any member that is not a file or a link under `top`."""
    with tarfile.open(path) as archive:
        members = archive.getmembers()
    for member in members:
        assert member.name.startswith(top) and (member.isfile() or member.issym()), member.name
    return sorted(m.name[len(top):] for m in members)


if __name__ == "__main__":
    unittest.main()
