"""The config file and the token as the helper sees them, and the lines the
launcher writes on standard error after a `get` that got no answer or an
`erase` of the configured token.

The file-level rules come from _kestrune_rules (the helper's own C++ rules);
this module adds what only reading the file can tell: whether it is JSON,
whether it holds a usable github_token.
"""
import json
import os
import stat
import sys

import _kestrune_rules

PROGRAM = "git-credential-kestrune"

# Prefixes of GitHub's tokens, longest first, and what each names.
TOKEN_KINDS = (
    ("github_pat_", "fine-grained personal access token"),
    ("ghp_", "personal access token (classic)"),
    ("gho_", "OAuth token"),
    ("ghu_", "GitHub App user token"),
    ("ghs_", "GitHub App installation token"),
    ("ghr_", "refresh token"),
)
# How many of a token's last characters a mask shows, and how many characters
# must be hidden for it to show them.
MASK_TAIL = 4
MASK_MIN_HIDDEN = 8


def config_path():
    """The config file's path, as the helper computes it."""
    return os.path.expanduser(_kestrune_rules.CONFIG_PATH_TEMPLATE)


class Finding:
    """What reading the config file found.

    `problem` is None when the helper would hand out `token`; otherwise it is
    a short name ("missing", "not_json", "no_token", ...) and `reason` says it
    in a few lower-case words ("no such file", "not valid JSON").
    """

    def __init__(self, path, problem=None, reason=None, token=None):
        self.path = path
        self.problem = problem
        self.reason = reason
        self.token = token


def read_regular_file(path, limit):
    """The bytes of the regular file at `path`, at most `limit` of them, as
    (bytes, None); else (None, why) with why "missing", "not_readable",
    "not_regular_file" or "too_large". The file is opened without blocking
    and checked once open, so a FIFO or a device is never read."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    except (FileNotFoundError, NotADirectoryError):
        return None, "missing"
    except OSError:
        return None, "not_readable"
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            return None, "not_regular_file"
        chunks, size = [], 0
        while size <= limit:
            chunk = os.read(fd, limit + 1 - size)
            if not chunk:
                break
            chunks.append(chunk)
            size += len(chunk)
    except OSError:
        return None, "not_readable"
    finally:
        os.close(fd)
    return (None, "too_large") if size > limit else (b"".join(chunks), None)


def read_checked_file(path):
    """The bytes of the file at `path` when it meets the config file's rules
    (check_config_file), as (bytes, None); else (None, (name, reason)) with
    the rule it breaks."""
    refusal = _kestrune_rules.check_config_file(path)
    if refusal is not None:
        return None, refusal
    raw, why = read_regular_file(path, _kestrune_rules.CONFIG_FILE_MAX_SIZE)
    if why is not None:
        # It changed since the check: the check says what it is now.
        return None, _kestrune_rules.check_config_file(path) or (why, _kestrune_rules.CONFIG_REFUSALS[why])
    return raw, None


def read_config(path):
    """Checks the config file at `path` the way the helper reads it."""
    raw, refusal = read_checked_file(path)
    if refusal is not None:
        return Finding(path, *refusal)
    try:
        config = json.loads(raw.decode("utf-8"))
    except (UnicodeDecodeError, ValueError, RecursionError):
        return Finding(path, "not_json", "not valid JSON")
    if not isinstance(config, dict):
        return Finding(path, "not_object", "not a JSON object")
    if "github_token" not in config:
        return Finding(path, "no_token", "no github_token")
    token = config["github_token"]
    if not isinstance(token, str):
        return Finding(path, "token_not_text", "github_token is not a string")
    refusal = _kestrune_rules.check_token(token)
    if refusal is not None:
        name, reason = refusal
        return Finding(path, "empty_token" if name == "empty" else "token_refused",
                       "github_token " + reason)
    return Finding(path, token=token)


def token_kind(token):
    for prefix, kind in TOKEN_KINDS:
        if token.startswith(prefix):
            return prefix, kind
    return "", "unknown kind of token"


def mask_token(token):
    """The token's prefix and last characters, e.g. "ghp_…AB12"; only the
    prefix when the token is too short to hide the rest."""
    prefix, _ = token_kind(token)
    hidden = len(token) - len(prefix) - MASK_TAIL
    tail = token[-MASK_TAIL:] if hidden >= MASK_MIN_HIDDEN else ""
    return prefix + "\u2026" + tail


def write_line(text):
    sys.stderr.write(PROGRAM + ": " + text + "\n")
    sys.stderr.flush()


def report_no_token(path):
    """After a GitHub `get` that got no answer: why, in one line."""
    finding = read_config(path)
    if finding.problem is not None:
        write_line("no token for github.com: %s (%s)" % (finding.reason, path))


def report_rejected_token(path, password):
    """After git erased `password` for GitHub: say so when it is the token in
    the config file."""
    finding = read_config(path)
    if finding.problem is None and password == finding.token:
        write_line("GitHub rejected the token saved in %s; sign in to Kestrune again" % path)
