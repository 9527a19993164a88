"""--status: whether git, run here, would get the token from this launcher,
checked step by step, one line per check; each problem says how to fix it.

The verdict (exit status 0) holds exactly when git would get the token for
https://github.com and, inside a repository, for each remote URL that points
at GitHub over HTTPS: the config file and the token pass the helper's rules,
git reads its config, and the first helper git asks for each URL is this
launcher (not a missing path, another program or a look-alike), with no
password in the URL and no look-alike helper after it that gets the token
when git stores it. What git does is asked of git (helper_chain). Other
findings (helpers after this one that keep copies, a subdomain, stored
credentials, the config file's mode) are warnings and leave the verdict
alone. Every text from outside is masked and escaped (safe_text).
"""
import json
import os
import pwd
import stat

import _kestrune_config_check as config_check
import _kestrune_config_text as config_text
import _kestrune_git_command as git_command
import _kestrune_git_config as git_config
import _kestrune_helper_chain as helper_chain
import _kestrune_rules
import _kestrune_safe_text as safe_text

PROGRAM = config_check.PROGRAM
GITHUB_URL = "https://" + _kestrune_rules.GITHUB_HOST
SUBDOMAIN_URL = "https://gist." + _kestrune_rules.GITHUB_HOST
SETUP_FIX = PROGRAM + " --setup"
SCHEMA = 1

OK, PROBLEM, WARNING, INFO = "ok", "problem", "warning", "info"

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
ROLE_PROBLEMS = {
    helper_chain.MISSING: "which does not exist (an install that moved or went away?)",
    helper_chain.NOT_EXECUTABLE: "which is not an executable file",
    helper_chain.OTHER_PROGRAM: "which is another program than this launcher",
}


class Check:
    """One line of the report: `status` is OK, PROBLEM (the verdict fails),
    WARNING (something to fix that leaves the verdict) or INFO. `taken`: git
    does not get the token from this launcher because of its helper entries,
    which --setup in the right file mends."""

    def __init__(self, name, status, message, fix=None, taken=False, **details):
        self.name, self.status, self.message, self.fix, self.details = (
            name, status, message, fix, details)
        self.taken = taken

    def text(self):
        line = "%-8s %s: %s" % (self.status, self.name, self.message)
        return safe_text.shown(line + ("; fix: " + self.fix if self.fix else ""))

    def as_dict(self):
        ok = {OK: True, PROBLEM: False, WARNING: False, INFO: None}[self.status]
        return safe_text.shown_all({"check": self.name, "status": self.status, "ok": ok,
                                    "message": self.message, "fix": self.fix, **self.details})


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
        fix = CONFIG_FIXES[problem].format(path=safe_text.shell_word(path),
                                           folder=safe_text.shell_word(folder))
        return [Check("config file", PROBLEM, "%s (%s)" % (finding.reason, path), fix,
                      path=path, problem=problem)], False
    st = os.stat(path)
    mode = stat.S_IMODE(st.st_mode)
    checks = [Check("config file", OK, "%s: a regular file, owner %s, mode %04o"
                    % (path, owner_name(st.st_uid), mode),
                    path=path, owner=owner_name(st.st_uid), mode="%04o" % mode)]
    if mode & 0o044:
        checks.append(Check("config file mode", WARNING,
                            "other users can read the token (mode %04o)" % mode,
                            "chmod 600 " + safe_text.shell_word(path), mode="%04o" % mode))
    if problem in ("not_json", "not_object", "no_token"):
        checks.append(Check("config contents", PROBLEM, finding.reason, CONTENT_FIX, problem=problem))
        return checks, False
    checks.append(Check("config contents", OK, "a JSON object with github_token"))
    if problem is not None:
        checks.append(Check("token", PROBLEM, finding.reason, CONTENT_FIX, problem=problem))
        return checks, False
    _, kind = config_check.token_kind(finding.token)
    mask = config_check.mask_token(finding.token)
    checks.append(Check("token", OK, "%s %s, passes the helper's rules" % (kind, mask),
                        kind=kind, mask=mask))
    return checks, True


# ---- the helpers git asks -------------------------------------------------------

def same_file(path, other):
    try:
        return os.path.samefile(path, other)
    except OSError:
        return False


def describe(entry):
    return "%s (%s)" % (entry.value, entry.place())


def listing(entries):
    return ", ".join(describe(e) for e in entries)


def plural(items, one, more):
    return one if len(items) == 1 else more


def setup_fix(git, entry):
    """The --setup that puts this launcher's pair after `entry`, in its file:
    git then asks this launcher first (a later empty entry would drop it)."""
    if entry.scope == "command":
        return "drop the git -c option (or GIT_CONFIG_PARAMETERS) that sets %s" % entry.key
    words = [PROGRAM, "--setup"]
    if entry.file:
        scope = "--" + entry.scope
        try:
            own = scope in ("--global", "--local", "--system") and same_file(
                entry.file, git_config.scope_file(git, scope))
        except (OSError, git_command.GitError):
            own = False
        if not own:
            words += ["--file", entry.file]
        elif scope != "--global":
            words.append(scope)
    return safe_text.command_text(words)


def helper_details(git, entry):
    role = helper_chain.helper_role(git, entry.value)
    return {"helper": entry.value, "scope": entry.scope, "file": entry.place(),
            "launcher": role.kind}


def chain_check(git, asked, url, name, decides=True):
    """The check of the helpers git asks for `url` (`asked`, from the
    sandbox); and whether git gets the token there from this launcher, with
    no look-alike getting it too. A failure is a PROBLEM when `decides` (the
    URL is part of the verdict), else a WARNING."""
    bad = PROBLEM if decides else WARNING
    details = {"url": url, "helpers": [helper_details(git, e) for e in asked.helpers],
               "reset": asked.reset.place() if asked.reset else None}
    if asked.error:
        return Check(name, bad, "git refuses %s: %s" % (url, asked.error), **details), False
    if asked.valueless:
        entry = asked.valueless
        return Check(name, bad, "%s holds %s with no value (no \"=\"), at which git stops with "
                     "\"bad config variable\"" % (line_of(entry), entry.key),
                     "write \"helper =\" there to drop the helpers before it, or delete the line",
                     taken=True, **details), False
    roles = [helper_chain.helper_role(git, e.value) for e in asked.helpers]
    if not asked.helpers:
        after = " after the empty entry in %s" % asked.reset.place() if asked.reset else ""
        fix = setup_fix(git, asked.reset) if asked.reset else SETUP_FIX
        return Check(name, bad, "git asks no helper for %s%s" % (url, after), fix, taken=True,
                     **details), False
    first, role = asked.helpers[0], roles[0]
    kinds = [r.kind for r in roles]
    if role.kind != helper_chain.THIS:
        if role.kind in ROLE_PROBLEMS:
            message = "git runs %s first, %s" % (role.path, ROLE_PROBLEMS[role.kind])
        elif helper_chain.THIS in kinds:
            before = asked.helpers[:kinds.index(helper_chain.THIS)]
            message = "%s %s before this launcher" % (listing(before),
                                                      plural(before, "answers", "answer"))
        else:
            message = "%s answers first; git does not ask this launcher" % describe(first)
        return Check(name, bad, message, setup_fix(git, asked.reset or first), taken=True,
                     **details), False
    later = [(e, r) for e, r in zip(asked.helpers[1:], roles[1:]) if r.kind != helper_chain.THIS]
    foreign = [e for e, r in later if r.foreign]
    if foreign:
        return Check(name, bad, "%s, which %s not this launcher, %s the token when git stores it"
                     % (listing(foreign), plural(foreign, "is", "are"), plural(foreign, "gets", "get")),
                     "delete %s from %s" % (plural(foreign, "it", "them"),
                                            ", ".join(sorted({e.place() for e in foreign}))),
                     taken=True, **details), False
    if later:
        entries = [e for e, _ in later]
        return Check(name, WARNING, "%s %s copies of the token when git stores it after %s"
                     % (listing(entries), plural(entries, "gets", "get"), PROGRAM),
                     "remove them, or " + setup_fix(git, entries[-1]), **details), True
    reset = "after the empty entry in %s" % asked.reset.place() if asked.reset else \
        "with no empty entry before it"
    return Check(name, OK, "%s (%s) answers first, %s" % (PROGRAM, first.value, reset),
                 **details), True


def line_of(entry):
    """Where an entry is, with its line when it is in a file that can be read."""
    path = entry.file
    if path:
        raw, _ = config_check.read_checked_file(path)
        try:
            entries, _ = config_text.parse(safe_text.decoded(raw or b""))
        except config_text.ConfigSyntaxError:
            entries = []
        for found in entries:
            if found.key == entry.key and found.value is None:
                return "%s, line %d," % (path, found.line)
    return entry.place()


# ---- remotes --------------------------------------------------------------------

def split_url(url):
    """(scheme, user info or None, host, port or None, rest) of a URL with
    "://"; None for anything else (an scp-like address, a path)."""
    scheme, sep, rest = url.partition("://")
    if not sep or not scheme:
        return None
    end = min([i for i in (rest.find(c) for c in "/?#") if i >= 0], default=len(rest))
    authority, rest = rest[:end], rest[end:]
    userinfo, at, hostport = authority.rpartition("@")
    host, colon, port = hostport.rpartition(":") if not hostport.endswith("]") else ("", "", "")
    if not colon:
        host, port = hostport, None
    return scheme, (userinfo if at else None), host, port, rest


def plain_url(parts, keep_port=True):
    scheme, _, host, port, rest = parts
    return "%s://%s%s%s" % (scheme, host, ":" + port if port is not None and keep_port else "", rest)


def remote_urls(git):
    """(remote, URL) pairs of the current repository, fetch and push URLs as
    git uses them (url.<base>.insteadOf applied), each once."""
    configured = {}
    for entry in git_config.read_entries(git, r"^remote\..*\.(push)?url$"):
        name = entry.key[len("remote."):entry.key.rindex(".")]
        configured.setdefault(name, []).append(entry.value or "")
    pairs = []
    for name, values in configured.items():
        urls = []
        for push in ([], ["--push"]):
            done = git_command.run(git, ["remote", "get-url", *push, "--all", "--", name])
            urls += done.stdout.decode("utf-8", "surrogateescape").splitlines() \
                if done.returncode == 0 else []
        # A name git does not take for a remote's: its URLs as they stand.
        for url in urls or values:
            if (name, url) not in pairs:
                pairs.append((name, url))
    return pairs


def remote_check(git, sandbox, name, url):
    """The check of one remote URL, or None when it does not concern GitHub
    credentials; and whether git gets the token for it (True when it does
    not point at GitHub over HTTPS)."""
    parts = split_url(url)
    if parts is None or parts[0] not in ("http", "https"):
        return None, True
    scheme, userinfo, host, port, _ = parts
    github = scheme == "https" and _kestrune_rules.host_is_github(host)
    check_name = "remote " + name
    fix_words = ["git", "remote", "set-url", name, plain_url(parts)]
    if userinfo is not None and ":" in userinfo:
        return Check(check_name, PROBLEM if github else WARNING,
                     "%s carries a password, which git uses before it asks any helper%s"
                     % (url, "" if github else ", and keeps in plain text in the config"),
                     safe_text.command_text(fix_words), remote=name, url=url), not github
    if not github:
        return None, True
    if port is not None and not _kestrune_rules.host_is_github(host + ":" + port):
        # Git matches no URL key for it and cannot connect; nor does the
        # helper answer for such a host.
        fix_words[-1] = plain_url(parts, keep_port=False)
        return Check(check_name, PROBLEM, "%s: the port %s is not valid, so git cannot use the URL "
                     "and the helper does not answer for it" % (url, port),
                     safe_text.command_text(fix_words), remote=name, url=url), False
    check, ok = chain_check(git, sandbox.ask(url), url, check_name)
    check.details["remote"] = name
    check.message = "%s: %s" % (url, check.message)
    if ok and check.status == OK:
        if userinfo:
            check.status, check.message = INFO, check.message + "; the user name in the URL " \
                "is only passed to the helpers"
    return check, ok


def remote_checks(git, sandbox):
    if git_command.run(git, ["rev-parse", "--git-dir"]).returncode != 0:
        return [], True
    checks, ok = [], True
    for name, url in remote_urls(git):
        check, url_ok = remote_check(git, sandbox, name, url)
        if check:
            checks.append(check)
        ok = ok and url_ok
    return checks, ok


# ---- stored credentials ---------------------------------------------------------

def credential_files():
    xdg = os.environ.get("XDG_CONFIG_HOME") or os.path.expanduser("~/.config")
    return [os.path.expanduser("~/.git-credentials"), os.path.join(xdg, "git", "credentials")]


def stored_credentials_check():
    """GitHub entries of git's plain-text credential store, read under the
    config file's rules (a regular file of bounded size)."""
    found, unread = [], []
    for path in filter(os.path.isabs, credential_files()):
        raw, refusal = config_check.read_checked_file(path)
        if refusal is not None:
            if refusal[0] != "missing":
                unread.append("%s (%s)" % (path, refusal[1]))
            continue
        for line in safe_text.decoded(raw).splitlines():
            parts = split_url(line.strip())
            if parts and _kestrune_rules.host_is_github(parts[2]):
                found.append((path, parts[0], parts[2]))
    if unread:
        return Check("stored credentials", WARNING, "not read: %s" % ", ".join(unread),
                     "make it a regular file, or remove it", files=unread)
    if not found:
        return Check("stored credentials", OK, "no github.com entries in ~/.git-credentials")
    places = sorted({(scheme, host) for _, scheme, host in found})
    paths = sorted({path for path, _, _ in found})
    fix = "; ".join(safe_text.command_text(["printf", "%s\\n", "protocol=" + scheme, "host=" + host, ""])
                    + " | git credential-store erase" for scheme, host in places)
    return Check("stored credentials", WARNING,
                 "%d github.com entr%s in plain text in %s"
                 % (len(found), "y" if len(found) == 1 else "ies", ", ".join(paths)),
                 fix, files=paths, hosts=sorted({host for _, host in places}))


# ---- all of git -----------------------------------------------------------------

def url_check(git, sandbox, url, decides=True):
    """chain_check of the helpers git asks for `url`."""
    return chain_check(git, sandbox.ask(url), url, "helpers for " + url, decides)


def url_checks(git, sandbox):
    """The checks of the helpers for https://github.com and a subdomain; and
    whether git gets the token for https://github.com."""
    main, ok = url_check(git, sandbox, GITHUB_URL)
    subdomain, _ = url_check(git, sandbox, SUBDOMAIN_URL, decides=False)
    return [main, subdomain], ok


def helper_checks(git):
    """The checks of what git does (the helpers for https://github.com, a
    subdomain and the remotes, stored credentials); and whether git gets the
    token from this launcher everywhere the verdict looks."""
    try:
        entries = helper_chain.read_helper_entries(git)
        with helper_chain.Sandbox(git, entries) as sandbox:
            checks, ok = url_checks(git, sandbox)
            remotes, remotes_ok = remote_checks(git, sandbox)
    except git_command.GitError as e:
        return [Check("git config", PROBLEM, git_config.explained(git, e),
                      "make every config file and include git reads a regular file it can "
                      "read to the end")], False
    except OSError as e:
        return [Check("helpers", PROBLEM, "no throw-away home to ask git in: %s (%s)"
                      % (e.strerror or e, e.filename or "the temporary folder"),
                      "set TMPDIR to a folder you can write")], False
    return checks + remotes + [stored_credentials_check()], ok and remotes_ok


def git_checks():
    """The checks that need git; and whether git gets the token."""
    try:
        git = git_command.find_git()
    except git_command.GitError as e:
        return [Check("git", PROBLEM, "not found on PATH", str(e).partition("; ")[2])], False
    try:
        version = git_command.run(git, ["--version"]).stdout.decode("utf-8", "replace").strip()
    except git_command.GitError as e:
        return [Check("git", PROBLEM, str(e))], False
    checks = [Check("git", OK, "%s (%s)" % (version or "unknown version", git),
                    version=version, path=git)]
    more, ok = helper_checks(git)
    return checks + more, ok


def status(json_output):
    path = config_check.config_path()
    checks, token_ok = config_checks(path)
    more, answers = git_checks()
    checks.extend(more)
    ok = token_ok and answers
    verdict = "git %s get the token for %s%s from %s" % (
        "would" if ok else "would not", GITHUB_URL,
        " and this repository's GitHub remotes" if any(c.name.startswith("remote ") for c in checks)
        else "", PROGRAM)
    if json_output:
        print(json.dumps({"schema": SCHEMA, "ok": ok, "verdict": verdict, "config_path":
                          safe_text.shown(path), "checks": [c.as_dict() for c in checks]}, indent=2))
    else:
        for check in checks:
            print(check.text())
        print("%-8s verdict: %s" % (OK if ok else PROBLEM, verdict))
    return 0 if ok else 1
