"""Which helpers git asks for a URL, and whether a helper value runs this
launcher.

Git decides which `credential.<url>.helper` entries apply to a URL (scheme,
host with `*` labels, default ports, a trailing dot, user names, path
prefixes, and a looser match for keys that are not URLs), so git is asked:
the helper entries of the user's config, in git's order and with their keys
unchanged, are copied into a throw-away home where every value is a recorder,
and `git credential fill` for the URL runs there. The recorders say which
entries git asked, in order; an empty entry is followed by a recorder of its
own, so the last empty entry that applied shows too. Nothing of the user's
helpers runs, and nothing of the user's config but these keys is read there.
"""
import os
import re
import shutil
import stat
import sys
import tempfile

import _kestrune_config_check as config_check
import _kestrune_config_text as config_text
import _kestrune_git_command as git_command
import _kestrune_git_config as git_config

PROGRAM = config_check.PROGRAM
HELPER_KEYS = r"^credential\.(.*\.)?helper$"
# The helper value git runs as `git credential-kestrune`.
SHORT_NAME = "kestrune"
# Characters a path may hold and still need no quoting in a shell word.
SHELL_SAFE = frozenset("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:@")

# The recorder, a helper value with its tag: it reads the request and notes
# the tag in $KESTRUNE_ASKED; as the last entry it also answers, so that git
# asks every entry before it and then prints what it passes to helpers. Shell
# built-ins only, and no file to run.
RECORDER = "!f() { while IFS= read -r line; do :; done; printf '%%s\\n' %s >>\"$KESTRUNE_ASKED\"; %s}; f"
ANSWER = "printf 'username=kestrune-check\\npassword=kestrune-check\\n'; "
LAST_TAG = "end"

# What a helper value is to this launcher.
THIS = "this launcher"
MISSING = "missing"
NOT_EXECUTABLE = "not executable"
OTHER_PROGRAM = "another program"
LOOKALIKE = "look-alike"
OTHER = "other helper"


def sq_quote(text):
    """`text` quoted for the shell as git quotes it: in single quotes, with a
    quote or an exclamation mark closed, escaped and reopened."""
    return "'" + text.replace("'", "'\\''").replace("!", "'\\!'") + "'"


def helper_value(launcher):
    """The helper value that runs `launcher`, an absolute path.

    Git runs a value that starts with "/" through the shell and any other
    value as `git credential-<value>`, so the value keeps its leading "/" and
    only the rest is quoted, where it needs quoting.
    """
    if all(c in SHELL_SAFE for c in launcher):
        return launcher
    return "/" + sq_quote(launcher[1:])


def launcher_path():
    return os.path.realpath(sys.executable)


def quoted_path(value):
    """The absolute path of a helper value that is exactly one path written
    as `helper_value` writes it; None for any other value."""
    if not value.startswith("/"):
        return None
    path = value
    if value.startswith("/'") and value.endswith("'") and len(value) > 2:
        path = "/" + value[2:-1].replace("'\\''", "'").replace("'\\!'", "!")
    return path if helper_value(path) == value else None


def same_contents(path, other, size):
    """Whether the regular files `path` and `other` hold the same `size`
    bytes. Neither open blocks."""
    flags = os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC
    fds = []
    try:
        fds = [os.open(path, flags), os.open(other, flags)]
        if any(not stat.S_ISREG(os.fstat(fd).st_mode) or os.fstat(fd).st_size != size for fd in fds):
            return False
        while True:
            a, b = (os.read(fd, 1 << 20) for fd in fds)
            if a != b:
                return False
            if not a:
                return True
    except OSError:
        return False
    finally:
        for fd in fds:
            os.close(fd)


def file_role(path):
    """What the file a helper path names is: this launcher (the same file, or
    a byte-for-byte copy), missing, not executable, or another program. The
    file is never run: a repository's config may name any file."""
    try:
        st = os.stat(path)
    except FileNotFoundError:
        return MISSING
    except OSError:
        return NOT_EXECUTABLE
    if not stat.S_ISREG(st.st_mode) or not os.access(path, os.X_OK):
        return NOT_EXECUTABLE
    ours = launcher_path()
    own = os.stat(ours)
    if (st.st_dev, st.st_ino) == (own.st_dev, own.st_ino) or same_contents(path, ours, own.st_size):
        return THIS
    return OTHER_PROGRAM


def dashed_command(git):
    """The file git runs for the value "kestrune": git-credential-kestrune
    in git's exec path, else on PATH; None when git would look in a relative
    PATH entry first, or finds none."""
    _, out = git_command.run_git(git, ["--exec-path"])
    folders = [out.decode("utf-8", "surrogateescape").strip()]
    folders += os.environ.get("PATH", "").split(os.pathsep)
    for folder in folders:
        if not os.path.isabs(folder):
            return None
        candidate = os.path.join(folder, PROGRAM)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return None


class Role:
    """What a helper value runs: `kind` (THIS, MISSING, NOT_EXECUTABLE,
    OTHER_PROGRAM for a path named like this launcher; LOOKALIKE for any
    other value that names it; OTHER for any other helper) and `path`."""

    def __init__(self, kind, path=None):
        self.kind, self.path = kind, path

    @property
    def foreign(self):
        """A helper that is taken for this launcher by its name but is not it."""
        return self.kind in (OTHER_PROGRAM, LOOKALIKE)


_roles = {}


def helper_role(git, value):
    """The Role of a helper value (looked at once per value)."""
    if value not in _roles:
        path = dashed_command(git) if value == SHORT_NAME else quoted_path(value)
        if path is not None and os.path.basename(path) == PROGRAM:
            _roles[value] = Role(file_role(path), path)
        elif value == SHORT_NAME:
            _roles[value] = Role(MISSING, PROGRAM + " on PATH")
        elif SHORT_NAME in value:
            _roles[value] = Role(LOOKALIKE)
        else:
            _roles[value] = Role(OTHER)
    return _roles[value]


def is_helper_key(key):
    """Whether `key` (as git names it) is one of HELPER_KEYS."""
    return re.fullmatch(HELPER_KEYS, key) is not None


def read_helper_entries(git):
    """Every credential helper entry of git's config, in git's order."""
    return git_config.read_entries(git, HELPER_KEYS)


class Asked:
    """What git does for one URL.

    `helpers`: the entries git asks, in order. `reset`: the last empty entry
    that applied, or None. `asks`: whether git asks helpers at all (not when
    the URL carries a password). `protocol`, `host`: what git passes to them.
    `valueless`: an entry with no value that applies, at which git stops.
    `error`: why git refused the URL."""

    def __init__(self):
        self.helpers, self.reset, self.asks = [], None, False
        self.protocol = self.host = self.valueless = self.error = None


class Sandbox:
    """`with Sandbox(git, entries) as sandbox: sandbox.ask(url)`."""

    def __init__(self, git, entries):
        self.git, self.entries = git, entries

    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix="kestrune-status-")
        try:
            self.write_files()
        except BaseException:
            shutil.rmtree(self.folder, ignore_errors=True)
            raise
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.folder, ignore_errors=True)
        return False

    def write_files(self):
        def recorder(tag, answer=""):
            return "\thelper = " + config_text.config_value(RECORDER % (tag, answer))

        lines, self.entry_at_line = [], {}
        for entry in self.entries:
            if "\n" in entry.key:
                continue  # no config file can hold such a key
            lines.append(config_text.section_header(entry.key))
            self.entry_at_line[len(lines) + 1] = entry
            if entry.value is None:
                lines.append("\thelper")
            elif entry.value == "":
                lines += ["\thelper = ", recorder("r%d" % entry.index)]
            else:
                lines.append(recorder("h%d" % entry.index))
        lines += ["[credential]", recorder(LAST_TAG, ANSWER)]
        self.config = os.path.join(self.folder, "config")
        self.asked = os.path.join(self.folder, "asked")
        with open(self.config, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write("\n".join(lines) + "\n")
        self.env = {
            "PATH": os.pathsep.join(git_command.absolute_path_entries()) or os.defpath,
            "HOME": self.folder, "XDG_CONFIG_HOME": self.folder, "GIT_CONFIG_NOSYSTEM": "1",
            "GIT_CONFIG_GLOBAL": self.config, "GIT_CEILING_DIRECTORIES": os.path.dirname(self.folder),
            "GIT_TERMINAL_PROMPT": "0", "LC_ALL": "C", "KESTRUNE_ASKED": self.asked,
        }

    def ask(self, url):
        """What git does for `url` (str) with the user's helper entries."""
        asked = Asked()
        if "\n" in url or "\0" in url:
            asked.error = "it holds a line break, which git refuses"
            return asked
        open(self.asked, "w").close()
        done = git_command.run(self.git, ["credential", "fill"], env=self.env, cwd=self.folder,
                               stdin=("url=" + url + "\n\n").encode("utf-8", "surrogateescape"))
        with open(self.asked, encoding="utf-8") as f:
            tags = f.read().split()
        if done.returncode != 0:
            return self.failure(asked, done.stderr)
        by_index = {e.index: e for e in self.entries}
        for tag in tags:
            if tag == LAST_TAG:
                asked.asks = True
            elif tag.startswith("r"):
                asked.reset = by_index[int(tag[1:])]
            else:
                asked.helpers.append(by_index[int(tag[1:])])
        for line in done.stdout.decode("utf-8", "surrogateescape").splitlines():
            name, _, value = line.partition("=")
            if name in ("protocol", "host"):
                setattr(asked, name, value)
        return asked

    def failure(self, asked, stderr):
        message = git_command.git_message(stderr)
        marker = "' in file '%s' at line " % self.config
        if "bad config variable" in message and marker in message:
            line = message.rpartition(marker)[2].split()[0]
            asked.valueless = self.entry_at_line.get(int(line)) if line.isdigit() else None
        if asked.valueless is None:
            asked.error = message.replace("fatal: ", "").replace("warning: ", "")
        return asked
