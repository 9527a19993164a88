"""--setup and --remove: git's helper entries for GitHub.

For each URL pattern git gets two values of credential.<url>.helper: an empty
one, which drops every helper configured before it for that URL, and this
launcher's absolute path, which git then runs directly.
"""
import os
import shlex
import sys

import _kestrune_config_check as config_check
import _kestrune_git_command as git_command
import _kestrune_rules

PROGRAM = config_check.PROGRAM
URL_PATTERNS = ("https://" + _kestrune_rules.GITHUB_HOST, "https://*." + _kestrune_rules.GITHUB_HOST)
# Characters a path may hold and still need no quoting in a shell word.
SHELL_SAFE = frozenset("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:@")


def helper_key(url):
    return "credential.%s.helper" % url


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


def scope_arguments(scope, file):
    return [scope, file] if scope == "--file" else [scope]


def helper_values(git, scope_args, key):
    """The values of `key` in the scope's file, in order, as str. (git
    config's exit status 1 means "no such key".)"""
    status, out = git_command.run_git(git, ["config", *scope_args, "-z", "--get-all", key], allowed=(0, 1))
    if status != 0:
        return []
    return [os.fsdecode(v) for v in out.split(b"\0")[:-1]]


def command_text(args):
    return " ".join(shlex.quote(a) for a in ["git", *args])


def run_commands(git, commands, dry_run):
    for args in commands:
        if dry_run:
            print(command_text(args))
        else:
            git_command.run_git(git, args)


def scope_name(scope, file):
    return "git config file " + file if scope == "--file" else scope[2:] + " git config"


def setup_commands(git, scope_args, value):
    commands = []
    for url in URL_PATTERNS:
        key = helper_key(url)
        if helper_values(git, scope_args, key)[-2:] == ["", value]:
            continue
        commands.append(["config", *scope_args, "--add", key, ""])
        commands.append(["config", *scope_args, "--add", key, value])
    return commands


def remove_commands(git, scope_args, value):
    """The commands that take out the pairs --setup wrote; plus notes on
    empty entries left in place because they cannot be told from the user's
    own."""
    commands, notes = [], []
    for url in URL_PATTERNS:
        key = helper_key(url)
        values = helper_values(git, scope_args, key)
        if value not in values:
            continue
        commands.append(["config", *scope_args, "--unset-all", "--fixed-value", key, value])
        ours = sum(1 for i in range(1, len(values)) if values[i] == value and values[i - 1] == "")
        others = values.count("") - ours
        if ours and not others:
            commands.append(["config", *scope_args, "--unset-all", "--fixed-value", key, ""])
        elif ours:
            notes.append("left the empty %s entries in place: other empty entries of it were "
                         "not written by --setup" % key)
    return commands, notes


def warn_about_config():
    finding = config_check.read_config(config_check.config_path())
    if finding.problem is not None:
        print("%s: warning: no token yet: %s (%s); sign in to Kestrune to save one"
              % (PROGRAM, finding.reason, finding.path), file=sys.stderr)


def setup(scope, file, dry_run):
    try:
        git = git_command.find_git()
        scope_args = scope_arguments(scope, file)
        commands = setup_commands(git, scope_args, helper_value(launcher_path()))
        run_commands(git, commands, dry_run)
    except git_command.GitError as e:
        print("%s: %s" % (PROGRAM, e), file=sys.stderr)
        return 1
    if not dry_run:
        done = "now asks" if commands else "already asks"
        print("%s: git %s only %s for %s (%s)"
              % (PROGRAM, done, launcher_path(), " and ".join(URL_PATTERNS), scope_name(scope, file)))
    warn_about_config()
    return 0


def remove(scope, file, dry_run):
    try:
        git = git_command.find_git()
        scope_args = scope_arguments(scope, file)
        commands, notes = remove_commands(git, scope_args, helper_value(launcher_path()))
        run_commands(git, commands, dry_run)
    except git_command.GitError as e:
        print("%s: %s" % (PROGRAM, e), file=sys.stderr)
        return 1
    for note in notes:
        print("%s: %s" % (PROGRAM, note), file=sys.stderr)
    if not dry_run:
        done = "removed" if commands else "found no"
        print("%s: %s entries of --setup in the %s" % (PROGRAM, done, scope_name(scope, file)))
    return 0
