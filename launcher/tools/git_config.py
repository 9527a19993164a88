"""Git's configuration as git itself reads it (every scope, includes
followed), and the file to blame when git cannot read it.
"""
import os
import stat

import _kestrune_git_command as git_command

# How deep git follows includes before it gives up (git's own limit).
MAX_INCLUDE_DEPTH = 10
INCLUDE_KEYS = r"^include(if\..*)?\.path$"


class Entry:
    """One config entry in the order git reads it. `value` is None for a key
    written with no "=" at all; `origin` is git's "file:PATH", "command
    line:" and so on."""

    def __init__(self, index, scope, origin, key, value):
        self.index, self.scope, self.origin, self.key, self.value = index, scope, origin, key, value

    @property
    def file(self):
        """The file the entry is in (absolute), or None when it is not in a
        file."""
        kind, _, rest = self.origin.partition(":")
        return os.path.abspath(rest) if kind == "file" and rest else None

    def place(self):
        """Where the entry is, for a reader: its file, or its scope."""
        return self.file or ("git -c option" if self.scope == "command" else self.origin or self.scope)


def parse_listing(out, with_origin):
    """The entries of `git config -z` output: [scope, origin,] key, then
    "\\n" and the value unless the key has none."""
    fields = out.decode("utf-8", "surrogateescape").split("\0")[:-1]
    step = 3 if with_origin else 1
    entries = []
    for i in range(0, len(fields) - step + 1, step):
        scope, origin = (fields[i], fields[i + 1]) if with_origin else ("", "")
        key, newline, value = fields[i + step - 1].partition("\n")
        entries.append(Entry(len(entries), scope, origin, key, value if newline else None))
    return entries


def read_entries(git, pattern, includes=True):
    """The entries whose key matches the regular expression `pattern`, from
    every scope with includes followed (unless `includes` is false), in the
    order git reads them."""
    args = ["config", "--show-origin", "--show-scope", "-z", "--get-regexp", pattern]
    if not includes:
        args.insert(1, "--no-includes")
    _, out = git_command.run_git(git, args, allowed=(0, 1))
    return parse_listing(out, with_origin=True)


def file_entries(git, path, pattern=None):
    """The entries of the one file `path`, includes not followed, in order."""
    args = ["config", "--file", path, "--no-includes", "-z"]
    args += ["--get-regexp", pattern] if pattern else ["--list"]
    _, out = git_command.run_git(git, args, allowed=(0, 1))
    return parse_listing(out, with_origin=False)


def include_target(path, including_file):
    """The file an include path names, as git resolves it: "~/" is the home
    folder, a relative path is relative to the including file's folder."""
    if path.startswith("~/"):
        path = os.path.expanduser(path)
    if including_file and not os.path.isabs(path):
        path = os.path.join(os.path.dirname(including_file), path)
    return os.path.abspath(path)


def blocking_include(git, includes, chain=()):
    """The first include, among (including file, path) pairs and the includes
    of the files they name, that git cannot read to the end: a FIFO, a device,
    or a loop. Reads each file with includes off, so nothing here blocks.
    Returns a sentence, or None."""
    for including, path in includes:
        target = include_target(path, including)
        try:
            mode = os.stat(target).st_mode
        except OSError:
            continue  # git skips an include that is not there
        source = "the include %s in %s" % (path, including or "git's config")
        if not stat.S_ISREG(mode):
            return "%s names a FIFO, a device or a folder, which git waits on forever" % source
        if target in chain or len(chain) >= MAX_INCLUDE_DEPTH:
            return "%s closes a loop of includes" % source
        try:
            nested = file_entries(git, target, INCLUDE_KEYS)
        except git_command.GitError:
            continue
        found = blocking_include(git, [(target, e.value) for e in nested if e.value],
                                 (*chain, target))
        if found:
            return found
    return None


def explained(git, error):
    """The text of a GitError; for a git command that timed out, with the
    config file or include that made git wait when one can be found."""
    message = str(error)
    if not isinstance(error, git_command.GitTimeout):
        return message
    try:
        entries = read_entries(git, INCLUDE_KEYS, includes=False)
    except git_command.GitError:
        return message + ": one of git's own config files cannot be read (a FIFO or a hung " \
                         "file system); check ~/.gitconfig and the repository's .git/config"
    found = blocking_include(git, [(e.file, e.value) for e in entries if e.value])
    return "%s: %s" % (message, found) if found else message


def global_file():
    """The file `git config --global` writes, by git's documented rule:
    $GIT_CONFIG_GLOBAL when set; else ~/.gitconfig, unless only the XDG file
    ($XDG_CONFIG_HOME/git/config, ~/.config/git/config by default) exists."""
    if os.environ.get("GIT_CONFIG_GLOBAL"):
        return os.environ["GIT_CONFIG_GLOBAL"]
    home = os.environ.get("HOME")
    if not home:
        raise git_command.GitError("$HOME is not set, so git has no global config file")
    user = os.path.join(home, ".gitconfig")
    xdg = os.path.join(os.environ.get("XDG_CONFIG_HOME") or os.path.join(home, ".config"),
                       "git", "config")
    if not os.access(user, os.R_OK) and os.access(xdg, os.R_OK):
        return xdg
    return user


def scope_file(git, scope, file=None):
    """The file that `git config` with `scope` ("--global", "--system",
    "--local" or "--file") writes, as an absolute path."""
    if scope == "--file":
        return os.path.abspath(file)
    if scope == "--global":
        return os.path.abspath(global_file())
    if scope == "--local":
        done = git_command.run(git, ["rev-parse", "--path-format=absolute", "--git-path", "config"])
        if done.returncode != 0:
            raise git_command.GitError("--local can only be used inside a git repository (%s)"
                                       % git_command.git_message(done.stderr))
        return done.stdout.decode("utf-8", "surrogateescape").rstrip("\n")
    # git knows where its system file is: it hands it to the editor, which
    # here prints it (GIT_EDITOR comes before any configured editor).
    env = dict(os.environ, GIT_EDITOR="printf '%s\\0'")
    _, out = git_command.run_git(git, ["config", "--system", "--edit"], env=env)
    return os.path.abspath(out.decode("utf-8", "surrogateescape").split("\0")[0])
