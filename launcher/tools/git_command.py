"""Running git for the launcher's tools: the git on PATH, never one in the
working directory, with a time limit on every command.
"""
import os
import shutil
import subprocess

# How long one git command may take, in seconds. Git answers the tools'
# questions in milliseconds; a command that takes longer is stuck (a config
# include that names a FIFO, a hung network file system), and the tools say so
# rather than hang.
TIMEOUT = 5


class GitError(Exception):
    """A git command that could not be started or failed; the message says
    which command and what git said."""


class GitTimeout(GitError):
    """A git command that did not finish within TIMEOUT."""


def absolute_path_entries():
    """PATH without its relative entries, which would name folders of the
    working directory (a repository's own)."""
    return [d for d in os.environ.get("PATH", "").split(os.pathsep) if os.path.isabs(d)]


def find_git():
    """The git on PATH; only absolute PATH entries count, so that a `git` in
    the working directory (a repository's own) is never run."""
    git = shutil.which("git", path=os.pathsep.join(absolute_path_entries()))
    if git is None:
        raise GitError("git is not on PATH; install git (Debian: apt-get install git) "
                       "or add its folder to PATH")
    return git


def git_message(stderr):
    """git's standard error as one line: its own line breaks and tabs become
    spaces (what is left is escaped where it is shown)."""
    return " ".join(stderr.decode("utf-8", "surrogateescape").split())


def run(git, args, *, stdin=b"", env=None, cwd=None):
    """Runs `git --no-pager args` with `stdin`; returns the CompletedProcess,
    whatever its exit status. Raises GitTimeout when it takes longer than
    TIMEOUT, GitError when git cannot be started.

    --no-pager: the tools capture git's output, and reading the pager
    settings alone would make git read every config file before the command.
    """
    command = "git " + " ".join(args)
    try:
        return subprocess.run([git, "--no-pager", *args], input=stdin, capture_output=True,
                              timeout=TIMEOUT, env=env, cwd=cwd)
    except subprocess.TimeoutExpired:
        raise GitTimeout("%s did not finish within %d s" % (command, TIMEOUT)) from None
    except OSError as e:
        raise GitError("%s could not be started: %s" % (command, e.strerror or e)) from None


def run_git(git, args, allowed=(0,), **kwargs):
    """`run`, which also raises GitError when git exits with a status not in
    `allowed`; returns (exit status, stdout bytes)."""
    done = run(git, args, **kwargs)
    if done.returncode not in allowed:
        command = "git " + " ".join(args)
        message = git_message(done.stderr) or "exit status %d" % done.returncode
        raise GitError("%s failed: %s" % (command, message))
    return done.returncode, done.stdout
