"""Replacing a git config file the way git does: `<file>.lock` is created
exclusively, the new text is written into it, and it is renamed over the
file. A reader sees the old file or the new one, never a part of either; a
change that stops before the rename leaves the file as it was; and git's own
`git config`, which takes the same lock, waits for it or fails rather than
interleave its writes with ours.
"""
import os
import time

# How long to wait for another program's lock on the file to go, and how
# often to look, in seconds. A --setup holds it for a few git commands.
LOCK_WAIT = 3
LOCK_POLL = 0.05


class LockError(Exception):
    pass


def current_umask():
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


class ConfigLock:
    """`with ConfigLock(path) as lock:` holds `path`.lock until the block
    ends; `lock.commit(data)` puts `data` in place of the file. Without a
    commit, or when the block fails, the lock goes and the file stays."""

    def __init__(self, path):
        self.path = path
        self.lock_path = path + ".lock"
        self.fd = None

    def __enter__(self):
        deadline = time.monotonic() + LOCK_WAIT
        while True:
            try:
                self.fd = os.open(self.lock_path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC,
                                  0o600)
                return self
            except FileExistsError:
                if time.monotonic() >= deadline:
                    raise LockError(
                        "%s is locked: %s exists, so another git command is changing it; if none "
                        "is running, remove %s" % (self.path, self.lock_path, self.lock_path)) from None
                time.sleep(LOCK_POLL)
            except OSError as e:
                raise LockError("cannot lock %s: %s" % (self.lock_path, e.strerror or e)) from None

    def commit(self, data):
        """Writes `data` with the file's mode (a new file gets 0666 less the
        umask, as git gives it) and renames the lock over the file."""
        try:
            mode = os.stat(self.path).st_mode & 0o7777
        except FileNotFoundError:
            mode = 0o666 & ~current_umask()
        os.fchmod(self.fd, mode)
        view = memoryview(data)
        while view:
            view = view[os.write(self.fd, view):]
        os.fsync(self.fd)
        os.rename(self.lock_path, self.path)

    def __exit__(self, *exc):
        if self.fd is None:
            return False
        try:
            # Only our own lock file goes: after the rename (or if someone
            # else's took its place) the name is no longer ours.
            if os.path.samestat(os.fstat(self.fd), os.stat(self.lock_path)):
                os.unlink(self.lock_path)
        except FileNotFoundError:
            pass
        finally:
            os.close(self.fd)
            self.fd = None
        return False
