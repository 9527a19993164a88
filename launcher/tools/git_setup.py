"""--setup and --remove: the helper entries for GitHub in one git config file.

For each URL pattern git gets a pair of credential.<url>.helper values: an
empty one, which drops every helper configured before it for that URL, and
this launcher's absolute path, which git then runs directly. A pair of that
shape (an empty entry directly followed by an absolute path whose file name
is git-credential-kestrune) is --setup's own, whichever launcher it names:
--setup leaves one pair, the last entries of their key, naming this launcher;
--remove takes out every such pair, and nothing else (a lone empty entry, or
a launcher path written by hand, stays).

The change is worked out in a private copy of the file, every step checked
by git reading the copy, and put in place in one step under git's lock
(config_lock). After --setup, git is asked which helpers it now runs, so that
--setup says what git will do.
"""
import contextlib
import difflib
import os
import sys
import tempfile

import _kestrune_config_check as config_check
import _kestrune_config_lock as config_lock
import _kestrune_config_text as config_text
import _kestrune_git_command as git_command
import _kestrune_git_config as git_config
import _kestrune_helper_chain as helper_chain
import _kestrune_rules
import _kestrune_safe_text as safe_text
import _kestrune_status as status

PROGRAM = config_check.PROGRAM
URL_PATTERNS = ("https://" + _kestrune_rules.GITHUB_HOST, "https://*." + _kestrune_rules.GITHUB_HOST)
KEYS = tuple("credential.%s.helper" % url for url in URL_PATTERNS)
CHECKED_URLS = (status.GITHUB_URL, status.SUBDOMAIN_URL)


class SetupError(Exception):
    pass


def is_setup_path(value):
    path = helper_chain.quoted_path(value) if value else None
    return path is not None and os.path.basename(path) == PROGRAM


def setup_pairs(entries, key):
    """The pairs (empty entry, path entry) of --setup under `key`, in order:
    adjacent entries of the file, each alone on its lines."""
    pairs, i = [], 0
    while i + 1 < len(entries):
        first, second = entries[i], entries[i + 1]
        if (first.key == second.key == key and first.value == "" and is_setup_path(second.value)
                and first.alone and second.alone):
            pairs.append((first, second))
            i += 2
        else:
            i += 1
    return pairs


def reading(entries):
    return [(e.key, e.value) for e in entries]


class Edit:
    """The change of one config file, made in a private copy `work`. After
    every step git reads the copy: the step must give exactly the entries
    intended, and this tool's reading of the text must be git's, or the
    change stops."""

    def __init__(self, git, work, target):
        self.git, self.work, self.target = git, work, target
        self.sync()

    def sync(self):
        """Reads the copy, here and by git; returns git's reading."""
        with open(self.work, "rb") as f:
            self.text = safe_text.decoded(f.read())
        try:
            theirs = reading(git_config.file_entries(self.git, self.work))
        except git_command.GitTimeout:
            raise
        except git_command.GitError as e:
            # git names the private copy; the user knows the file.
            raise SetupError("git cannot read %s: %s"
                             % (self.target, str(e).replace(self.work, self.target))) from None
        try:
            self.entries, self.headers = config_text.parse(self.text)
        except config_text.ConfigSyntaxError as e:
            raise SetupError("%s: %s" % (self.target, e)) from None
        if reading(self.entries) != theirs:
            raise SetupError("git reads %s otherwise than this tool; change it with git config "
                             "instead" % self.target)
        return theirs

    def remove(self, entries):
        expected = [(e.key, e.value) for e in self.entries if e not in entries]
        text = config_text.without_entries(self.text, entries, self.headers)
        with open(self.work, "wb") as f:
            f.write(text.encode("utf-8", "surrogateescape"))
        if self.sync() != expected:
            raise SetupError("taking entries out of %s went wrong; the file is unchanged"
                             % self.target)

    def add(self, key, value):
        """Adds one entry as `git config --add` does (after the key's last
        entry, or in a new section at the end)."""
        before = reading(self.entries)
        git_command.run_git(self.git, ["config", "--file", self.work, "--add", key, value])
        after = self.sync()
        if ([kv for kv in after if kv[0] != key] != [kv for kv in before if kv[0] != key]
                or [v for k, v in after if k == key] != [v for k, v in before if k == key] + [value]):
            raise SetupError("adding %s to %s went wrong; the file is unchanged" % (key, self.target))


def read_target(path):
    raw, why = config_check.read_regular_file(path, _kestrune_rules.CONFIG_FILE_MAX_SIZE)
    if why == "missing":
        return b""
    if why is not None:
        raise SetupError("%s is %s" % (path, _kestrune_rules.CONFIG_REFUSALS[why]))
    return raw


def edit_file(git, target, dry_run, plan):
    """Runs `plan(edit)` on the text of the config file `target` and puts the
    result in place in one step, under the file's lock; with `dry_run`,
    prints the change instead. Returns whether the text changed."""
    real = os.path.realpath(target)
    with contextlib.ExitStack() as stack:
        lock = None if dry_run else stack.enter_context(config_lock.ConfigLock(real))
        original = read_target(real)
        folder = stack.enter_context(tempfile.TemporaryDirectory(prefix="kestrune-setup-"))
        work = os.path.join(folder, "config")
        with open(work, "wb") as f:
            f.write(original)
        plan(Edit(git, work, target))
        with open(work, "rb") as f:
            new = f.read()
        if new != original and dry_run:
            print_diff(target, original, new)
        elif new != original:
            lock.commit(new)
        return new != original


def print_diff(target, original, new):
    lines = difflib.unified_diff(safe_text.decoded(original).splitlines(),
                                 safe_text.decoded(new).splitlines(), target, target, n=1,
                                 lineterm="")
    for line in lines:
        print(safe_text.shown(line))


def scope_name(scope, file):
    return "git config file " + file if scope == "--file" else scope[2:] + " git config"


def say(text, stream=sys.stdout):
    print(safe_text.shown("%s: %s" % (PROGRAM, text)), file=stream)


def warn_about_config():
    finding = config_check.read_config(config_check.config_path())
    if finding.problem is not None:
        say("warning: no token yet: %s (%s); sign in to Kestrune to save one"
            % (finding.reason, finding.path), sys.stderr)


def setup_plan(value):
    def plan(edit):
        for entry in edit.entries:
            if helper_chain.is_helper_key(entry.key) and entry.value is None:
                raise SetupError(
                    "%s, line %d: %s has no value (no \"=\"), and git stops at it with \"bad "
                    "config variable\"; write \"helper =\" there to drop the helpers before it, "
                    "or delete the line" % (edit.target, entry.line, entry.key))
        for key in KEYS:
            pairs = setup_pairs(edit.entries, key)
            last = [e for e in edit.entries if e.key == key][-1:]
            keep = pairs[-1] if pairs and pairs[-1][1] in last and pairs[-1][1].value == value else None
            drop = [e for pair in pairs if pair is not keep for e in pair]
            if drop:
                edit.remove(drop)
            if keep is None:
                edit.add(key, "")
                edit.add(key, value)
    return plan


def remove_plan(edit):
    drop = [e for key in KEYS for pair in setup_pairs(edit.entries, key) for e in pair]
    if drop:
        edit.remove(drop)


def run_edit(scope, file, dry_run, plan):
    """(git, target file, whether it changed); None after saying why it
    could not be done."""
    git = None
    try:
        git = git_command.find_git()
        target = git_config.scope_file(git, scope, file)
        return git, target, edit_file(git, target, dry_run, plan)
    except git_command.GitError as e:
        say(git_config.explained(git, e) if git else str(e), sys.stderr)
    except (SetupError, config_lock.LockError) as e:
        say(str(e), sys.stderr)
    except OSError as e:
        say("%s: %s" % (e.filename or "the config file", e.strerror or e), sys.stderr)
    return None


def report_setup(git, changed, where, target=None):
    """Says what git now does for GitHub; 1 when git does not ask this
    launcher first for https://github.com and a subdomain. `target`: a file
    named by --file, which git may not read at all."""
    try:
        entries = helper_chain.read_helper_entries(git)
        with helper_chain.Sandbox(git, entries) as sandbox:
            urls = [status.url_check(git, sandbox, url) for url in CHECKED_URLS]
            remotes, _ = status.remote_checks(git, sandbox)
    except git_command.GitError as e:
        say("the %s holds the entries, but git cannot read its config: %s"
            % (where, git_config.explained(git, e)), sys.stderr)
        return 1
    except OSError as e:
        say("the %s holds the entries, but there is no throw-away home to ask git in: %s (%s)"
            % (where, e.strerror or e, e.filename or "the temporary folder"), sys.stderr)
        return 1
    if target is not None and not any(e.file and status.same_file(e.file, target) for e in entries):
        say("the %s holds the entries; git does not read it here: include it from a config file "
            "git reads (git config --global --add include.path FILE)" % where)
        return 0
    failed = [check for check, ok in urls if not ok] + [check for check in remotes if check.taken]
    for check in failed:
        say("the %s holds the entries, but git still does not ask %s first (%s): %s%s"
            % (where, PROGRAM, check.name, check.message, "; fix: " + check.fix if check.fix else ""),
            sys.stderr)
    if failed:
        return 1
    only = all(check.status == status.OK for check, _ in urls) and not any(
        check.status == status.WARNING and "helpers" in check.details for check in remotes)
    say("git %s %s %s for %s (%s)" % ("now asks" if changed else "already asks",
                                      "only" if only else "first", helper_chain.launcher_path(),
                                      " and ".join(URL_PATTERNS), where))
    for check in [c for c, _ in urls] + remotes + [status.stored_credentials_check()]:
        if check.status in (status.PROBLEM, status.WARNING):
            say("warning: %s: %s%s" % (check.name, check.message,
                                       "; fix: " + check.fix if check.fix else ""), sys.stderr)
    return 0


def setup(scope, file, dry_run):
    launcher = helper_chain.launcher_path()
    if safe_text.UNSAFE.search(launcher):
        say("the launcher's path holds a control character, which a helper value cannot carry; "
            "install it in a folder with a plain name", sys.stderr)
        return 1
    done = run_edit(scope, file, dry_run, setup_plan(helper_chain.helper_value(launcher)))
    if done is None:
        return 1
    git, target, changed = done
    exit_status = 0 if dry_run else report_setup(git, changed, scope_name(scope, target),
                                                 target if scope == "--file" else None)
    warn_about_config()
    return exit_status


def remove(scope, file, dry_run):
    done = run_edit(scope, file, dry_run, remove_plan)
    if done is None:
        return 1
    _, target, changed = done
    if not dry_run:
        say("%s entries of --setup in the %s" % ("removed" if changed else "found no",
                                                 scope_name(scope, target)))
    return 0
