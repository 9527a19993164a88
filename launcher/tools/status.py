"""--status: whether git would get the token from this helper, checked step
by step, one line per check; each problem says how to fix it.

Exit status 0 when a `get` for https://github.com would be answered by this
helper, 1 otherwise. The token is only ever shown masked.
"""
import fnmatch
import json
import os
import pwd
import shlex
import stat
import urllib.parse

import _kestrune_config_check as config_check
import _kestrune_git_command as git_command
import _kestrune_git_setup as git_setup
import _kestrune_rules

PROGRAM = config_check.PROGRAM
GITHUB_URL = "https://" + _kestrune_rules.GITHUB_HOST
SUBDOMAIN_URL = "https://gist." + _kestrune_rules.GITHUB_HOST
SETUP_FIX = PROGRAM + " --setup"
DEFAULT_PORTS = {"https": 443, "http": 80}

CONFIG_FIXES = {
    "relative_path": "set HOME to the absolute path of the folder that holds .kestrune",
    "missing": "sign in to Kestrune, which saves the token there "
               "(in a container or WSL, set HOME to the folder that holds .kestrune)",
    "not_readable": "make the file readable by you: chmod u+r {path}",
    "not_regular_file": "replace it with the file Kestrune writes: sign in to Kestrune again",
    "too_large": "sign in to Kestrune again, which rewrites the file",
    "unsafe_owner": "make the file yours: chown \"$USER\" {path}",
    "unsafe_mode": "take away others' write permission: chmod o-w {path}",
    "unsafe_folder_owner": "make the folder yours: chown \"$USER\" {folder}",
    "unsafe_folder_mode": "take away others' write permission: chmod o-w {folder}",
}
CONTENT_FIX = "sign in to Kestrune again, which rewrites the file"


class Check:
    """One line of the report. `ok` is True, False (a problem) or None (for
    information only)."""

    def __init__(self, name, ok, message, fix=None, **details):
        self.name, self.ok, self.message, self.fix, self.details = name, ok, message, fix, details

    def text(self):
        label = {True: "ok", False: "problem", None: "info"}[self.ok]
        line = "%-8s %s: %s" % (label, self.name, self.message)
        return line + ("; fix: " + self.fix if self.fix else "")

    def as_dict(self):
        return {"check": self.name, "ok": self.ok, "message": self.message, "fix": self.fix,
                **self.details}


# ---- the config file and the token ---------------------------------------------

def owner_name(uid):
    try:
        return pwd.getpwuid(uid).pw_name
    except KeyError:
        return str(uid)


def config_checks(path):
    """The checks of the config file, its contents and the token; and whether
    the token would be handed out."""
    finding = config_check.read_config(path)
    problem = finding.problem
    folder = os.path.dirname(path)
    if problem in CONFIG_FIXES:
        fix = CONFIG_FIXES[problem].format(path=shlex.quote(path), folder=shlex.quote(folder))
        return [Check("config file", False, "%s (%s)" % (finding.reason, path), fix,
                      path=path, problem=problem)], False
    st = os.stat(path)
    checks = [Check("config file", True,
                    "%s: a regular file, owner %s, mode %04o" % (path, owner_name(st.st_uid),
                                                                 stat.S_IMODE(st.st_mode)),
                    path=path, owner=owner_name(st.st_uid), mode="%04o" % stat.S_IMODE(st.st_mode))]
    if problem in ("not_json", "not_object", "no_token"):
        checks.append(Check("config contents", False, finding.reason, CONTENT_FIX, problem=problem))
        return checks, False
    checks.append(Check("config contents", True, "a JSON object with github_token"))
    if problem is not None:
        checks.append(Check("token", False, finding.reason, CONTENT_FIX, problem=problem))
        return checks, False
    prefix, kind = config_check.token_kind(finding.token)
    mask = config_check.mask_token(finding.token)
    checks.append(Check("token", True, "%s %s, passes the helper's rules" % (kind, mask),
                        kind=kind, mask=mask))
    return checks, True


# ---- git ------------------------------------------------------------------------

def git_output(git, args):
    """git's standard output, or None when it failed or found nothing."""
    try:
        return git_command.run_git(git, args)[1]
    except git_command.GitError:
        return None


def config_entries(git, pattern):
    """(scope, origin, key, value) of every config entry whose key matches
    `pattern`, in the order git reads them."""
    out = git_output(git, ["config", "--show-origin", "--show-scope", "-z", "--get-regexp", pattern])
    fields = os.fsdecode(out or b"").split("\0")
    entries = []
    for i in range(0, len(fields) - 2, 3):
        key, _, value = fields[i + 2].partition("\n")
        entries.append((fields[i], fields[i + 1], key, value))
    return entries


def pattern_matches(pattern, url):
    """Whether the URL pattern of a credential.<pattern>.* key applies to
    `url` (scheme, host with "*" matching within one label, port and path
    prefix, as git compares them; a pattern without a scheme names a host)."""
    target = urllib.parse.urlsplit(url)
    if "://" not in pattern:
        return pattern.split("/")[0].lower() == target.hostname
    try:
        want = urllib.parse.urlsplit(pattern)
        want_port = want.port or DEFAULT_PORTS.get(want.scheme.lower())
    except ValueError:
        return False
    if want.scheme.lower() != target.scheme or want.username is not None:
        return False
    labels = (want.hostname or "").split(".")
    target_labels = (target.hostname or "").split(".")
    if len(labels) != len(target_labels) or not all(
            fnmatch.fnmatchcase(t, w) for w, t in zip(labels, target_labels)):
        return False
    if want_port != (target.port or DEFAULT_PORTS.get(target.scheme)):
        return False
    path = want.path.rstrip("/")
    target_path = target.path or "/"
    return not path or target_path == path or target_path.startswith(path + "/")


def is_this_helper(value, own_value):
    if value in ("kestrune", own_value):
        return True
    command = value[1:] if value.startswith("!") else value
    if not command.startswith("/"):
        return False
    try:
        words = shlex.split(command)
    except ValueError:
        return False
    return bool(words) and os.path.basename(words[0]) == PROGRAM


def describe_entry(entry):
    scope, origin, _, value = entry
    return "%s (%s %s)" % (value, scope, origin.partition(":")[2] or origin)


def helper_chain(entries, url):
    """The helper entries that git asks for `url`, in order, after the last
    empty entry; and whether such an empty entry came first."""
    chain, reset = [], False
    for entry in entries:
        key = entry[2]
        pattern = key[len("credential."):-len(".helper")] if key != "credential.helper" else None
        if pattern is not None and not pattern_matches(pattern, url):
            continue
        if entry[3] == "":
            chain, reset = [], True
        else:
            chain.append(entry)
    return chain, reset


def plural(items, one, more):
    return one if len(items) == 1 else more


def chain_check(entries, url, own_value):
    """The check of git's helpers for `url`; and whether this helper answers
    first."""
    chain, reset = helper_chain(entries, url)
    name = "helpers for " + url
    ours = [i for i, e in enumerate(chain) if is_this_helper(e[3], own_value)]
    details = {"url": url, "helpers": [describe_entry(e) for e in chain], "reset": reset}
    if not ours:
        return Check(name, False, "git does not ask %s" % PROGRAM, SETUP_FIX, **details), False
    before = [describe_entry(e) for e in chain[:ours[0]]]
    after = [describe_entry(e) for e in chain[ours[0] + 1:] if not is_this_helper(e[3], own_value)]
    details.update(before=before, after=after)
    problems, fixes = [], []
    if before:
        problems.append("%s %s before %s" % (", ".join(before), plural(before, "answers", "answer"),
                                             PROGRAM))
        fixes.append(SETUP_FIX)
    if after:
        problems.append("%s %s copies of the token when git stores it after %s"
                        % (", ".join(after), plural(after, "gets", "get"), PROGRAM))
        fixes.append("remove the helpers after it, or run %s in the scope they come from "
                     "(--local in a repository, --file PATH)" % SETUP_FIX)
    if problems:
        return Check(name, False, "; ".join(problems), "; ".join(fixes), **details), not before
    reset_text = "after an empty entry" if reset else "with no empty entry before it"
    return Check(name, True, "%s answers first, %s" % (PROGRAM, reset_text), **details), True


def stored_credentials_check():
    """github.com entries of git's plain-text credential store."""
    paths = [os.path.expanduser("~/.git-credentials")]
    xdg = os.environ.get("XDG_CONFIG_HOME") or os.path.expanduser("~/.config")
    paths.append(os.path.join(xdg, "git", "credentials"))
    found = []
    for path in filter(os.path.isabs, paths):
        try:
            with open(path, "rb") as f:
                lines = f.read().decode("utf-8", "replace").splitlines()
        except OSError:
            continue
        for line in lines:
            try:
                host = urllib.parse.urlsplit(line.strip()).hostname or ""
            except ValueError:
                continue
            if _kestrune_rules.host_is_github(host):
                found.append((path, host))
    if not found:
        return Check("stored credentials", True, "no github.com entries in ~/.git-credentials")
    hosts = sorted({host for _, host in found})
    paths = sorted({path for path, _ in found})
    fix = "; ".join("printf 'protocol=https\\nhost=%s\\n\\n' | git credential-store erase" % host
                    for host in hosts)
    return Check("stored credentials", False,
                 "%d github.com entr%s in plain text in %s"
                 % (len(found), "y" if len(found) == 1 else "ies", ", ".join(paths)),
                 fix, files=paths, hosts=hosts)


def without_credentials(parts):
    host = parts.hostname or ""
    netloc = host + (":%d" % parts.port if parts.port else "")
    return urllib.parse.urlunsplit(parts._replace(netloc=netloc))


def remote_checks(git):
    """Remotes of the current repository whose URL carries a user name or a
    password: git uses those before it asks any helper."""
    if git_output(git, ["rev-parse", "--git-dir"]) is None:
        return []
    checks = []
    for scope, _, key, url in config_entries(git, r"^remote\..*\.(push)?url$"):
        try:
            parts = urllib.parse.urlsplit(url)
            has_credentials = parts.scheme in ("http", "https") and (
                parts.username is not None or parts.password is not None)
        except ValueError:
            continue
        if not has_credentials:
            continue
        remote = key[len("remote."):key.rindex(".")]
        clean = without_credentials(parts)
        option = " --push" if key.endswith(".pushurl") else ""
        checks.append(Check("remote " + remote, False,
                            "the URL (%s) carries a user name or password, which git uses "
                            "before any helper" % clean.replace("://", "://***@", 1),
                            "git remote set-url%s %s %s" % (option, shlex.quote(remote),
                                                            shlex.quote(clean)),
                            remote=remote))
    if not checks:
        checks.append(Check("remotes", True, "no remote URL carries a user name or password"))
    return checks


def git_checks():
    """The checks that need git; and whether this helper answers first for
    https://github.com."""
    try:
        git = git_command.find_git()
    except git_command.GitError as e:
        return [Check("git", False, "not found on PATH", str(e).partition("; ")[2])], False
    version = os.fsdecode(git_output(git, ["--version"]) or b"").strip() or "unknown version"
    checks = [Check("git", True, "%s (%s)" % (version, git), version=version, path=git)]
    entries = [e for e in config_entries(git, r"^credential\..*helper$")
               if e[2] == "credential.helper" or e[2].endswith(".helper")]
    own_value = git_setup.helper_value(git_setup.launcher_path())
    main_check, answers = chain_check(entries, GITHUB_URL, own_value)
    checks.append(main_check)
    checks.append(chain_check(entries, SUBDOMAIN_URL, own_value)[0])
    checks.append(stored_credentials_check())
    checks.extend(remote_checks(git))
    return checks, answers


def status(json_output):
    path = config_check.config_path()
    checks, token_ok = config_checks(path)
    more, answers = git_checks()
    checks.extend(more)
    ok = token_ok and answers
    if json_output:
        print(json.dumps({"ok": ok, "config_path": path, "checks": [c.as_dict() for c in checks]},
                         indent=2))
    else:
        for check in checks:
            print(check.text())
        print("%-8s verdict: git %s get the token for %s from %s"
              % ("ok" if ok else "problem", "would" if ok else "would not", GITHUB_URL, PROGRAM))
    return 0 if ok else 1
