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
TIMEOUT = 15


class GitError(Exception):
    pass


def find_git():
    """The git on PATH; only absolute PATH entries count, so that a `git` in
    the working directory (a repository's own) is never run."""
    path = os.pathsep.join(d for d in os.environ.get("PATH", "").split(os.pathsep) if os.path.isabs(d))
    git = shutil.which("git", path=path)
    if git is None:
        raise GitError("git is not on PATH; install git (Debian: apt-get install git) "
                       "or add its folder to PATH")
    return git


def run_git(git, args, allowed=(0,)):
    """Runs `git args` with no standard input; returns (exit status, stdout
    bytes). Raises GitError when git cannot be started, takes longer than
    TIMEOUT, or exits with a status not in `allowed`."""
    command = "git " + " ".join(args)
    try:
        done = subprocess.run([git, *args], stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        raise GitError("%s did not finish within %d s" % (command, TIMEOUT)) from None
    except OSError as e:
        raise GitError("%s could not be started: %s" % (command, e.strerror or e)) from None
    if done.returncode not in allowed:
        message = done.stderr.decode("utf-8", "replace").strip() or "exit status %d" % done.returncode
        raise GitError("%s failed: %s" % (command, message))
    return done.returncode, done.stdout
