"""Real git with the built launcher as its credential helper."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

import https_server
from launcher_support import LAUNCHER, TOKEN, clean_env, config_path, make_home

# A second helper that answers whatever the first leaves unanswered, so that a
# request our helper stays silent on shows up as this answer.
FALLBACK = "!f() { echo username=fallback; echo password=fallback; }; f"


class GitCase(unittest.TestCase):
    def setUp(self):
        self.home = make_home(self, {"github_token": TOKEN})

    def git(self, *args, stdin, helpers=(LAUNCHER, FALLBACK), path=None, home=None, cwd=None):
        options = ["-c", "credential.helper="]
        for helper in helpers:
            options += ["-c", "credential.helper=" + helper]
        env = clean_env(HOME=home or self.home, PATH=path or os.environ["PATH"],
                        GIT_CONFIG_NOSYSTEM="1", GIT_TERMINAL_PROMPT="0")
        # Git is not ours, and a sanitizer runtime preloaded into
        # git-remote-https can deadlock it; the launcher links its own.
        env.pop("LD_PRELOAD", None)
        result = subprocess.run(["git", *options, *args], input=stdin, env=env,
                                cwd=cwd or self.home, capture_output=True, timeout=60)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        return result.stdout

    def fill(self, request, **kwargs):
        return self.git("credential", "fill", stdin=request, **kwargs)


class GitCredentialTest(GitCase):

    def test_fill_answers_for_github_over_https(self):
        token = TOKEN.encode()
        self.assertEqual(
            self.fill(b"protocol=https\nhost=github.com\n\n"),
            b"protocol=https\nhost=github.com\nusername=x-access-token\npassword=" + token + b"\n")
        self.assertEqual(
            self.fill(b"url=https://api.github.com/repos/o/r\n\n"),
            b"protocol=https\nhost=api.github.com\nusername=x-access-token\npassword="
            + token + b"\n")

    def test_fill_answers_for_github_as_the_user_wrote_it(self):
        for url, host in ((b"https://GitHub.com/o/r", b"GitHub.com"),
                          (b"https://API.GITHUB.COM:443/o/r", b"API.GITHUB.COM:443"),
                          (b"https://github.com./o/r", b"github.com.")):
            with self.subTest(url=url):
                self.assertEqual(
                    self.fill(b"url=" + url + b"\n\n"),
                    b"protocol=https\nhost=" + host + b"\nusername=x-access-token\npassword="
                    + TOKEN.encode() + b"\n")

    def test_fill_is_silent_for_other_hosts_and_for_http(self):
        # The %-escapes reach the helper decoded: hosts such as
        # evil.test/.github.com, which are not GitHub's.
        for url in (b"https://github.com.evil.example/o/r", b"https://evilgithub.com/o/r",
                    b"https://example.com", b"http://github.com/o/r",
                    b"https://evil.test%2F.github.com/o", b"https://evil.test%40y.github.com/o",
                    b"https://evil.test%3A1.github.com/o"):
            with self.subTest(url=url):
                protocol, _, host = url.partition(b"://")
                host = urllib.parse.unquote_to_bytes(host.partition(b"/")[0])
                self.assertEqual(
                    self.fill(b"url=" + url + b"\n\n"),
                    b"protocol=" + protocol + b"\nhost=" + host
                    + b"\nusername=fallback\npassword=fallback\n")

    def test_helper_found_on_path_by_name_for_github_urls(self):
        path = os.path.dirname(LAUNCHER) + os.pathsep + os.environ["PATH"]
        self.assertEqual(
            self.git("-c", "credential.https://github.com.helper=kestrune", "credential", "fill",
                     stdin=b"url=https://github.com/o/r.git\n\n", helpers=(), path=path),
            b"protocol=https\nhost=github.com\nusername=x-access-token\npassword="
            + TOKEN.encode() + b"\n")

    def test_approve_and_reject_leave_the_config_file_unchanged(self):
        with open(config_path(self.home), "rb") as f:
            before = f.read()
        request = b"protocol=https\nhost=github.com\nusername=someone\npassword=other-token\n\n"
        for command in ("approve", "reject"):
            with self.subTest(command=command):
                self.assertEqual(self.git("credential", command, stdin=request, helpers=(LAUNCHER,)), b"")
                with open(config_path(self.home), "rb") as f:
                    self.assertEqual(f.read(), before)


class HostileRepositoryTest(GitCase):
    """Git runs helpers at the root of the repository the user is in; this
    one plants what it can for the helper to read instead of the user's
    config."""

    def setUp(self):
        super().setUp()
        self.repo = plant_repository(self)

    def test_fill_inside_the_repository(self):
        request = b"url=https://github.com/o/r\n\n"
        head = b"protocol=https\nhost=github.com\n"
        self.assertEqual(self.fill(request, cwd=self.repo),
                         head + b"username=x-access-token\npassword=" + TOKEN.encode() + b"\n")
        for home in (".", "x"):
            with self.subTest(home=home):
                self.assertEqual(self.fill(request, cwd=self.repo, home=home),
                                 head + b"username=fallback\npassword=fallback\n")

    def test_ls_remote_sends_the_token_to_the_https_server(self):
        with https_server.GitHubStandIn(self) as server:
            url = "https://github.com:%d/o/r.git" % server.port
            options = ["-c", "http.curloptResolve=github.com:%d:127.0.0.1" % server.port,
                       "-c", "http.sslCAInfo=" + server.ca_file]
            self.assertEqual(self.git(*options, "ls-remote", url, stdin=b"", cwd=self.repo), b"")
            self.assertEqual(server.authorizations,
                             [None, https_server.basic("x-access-token", TOKEN)])
            # Under a relative home the repository's planted config is not
            # used: the next helper in the chain answers.
            del server.authorizations[:]
            self.git(*options, "ls-remote", url, stdin=b"", cwd=self.repo, home=".")
            self.assertEqual(server.authorizations,
                             [None, https_server.basic("fallback", "fallback")])


def plant_repository(test):
    """A git repository holding every artefact that once misled the helper:
    the helper's traceback file name as a FIFO, a config for a relative home
    and one at the repository root."""
    repo = tempfile.mkdtemp(prefix="kestrune-repo-")
    test.addCleanup(shutil.rmtree, repo)
    subprocess.run(["git", "init", "-q", repo], check=True, env=clean_env(GIT_CONFIG_NOSYSTEM="1"))
    os.mkdir(os.path.join(repo, "scripts"))
    os.mkfifo(os.path.join(repo, "scripts", "git-credential-kestrune"))
    for home in (".", "x"):
        os.makedirs(os.path.join(repo, home, ".kestrune"), exist_ok=True)
        with open(os.path.join(repo, home, ".kestrune", "config.json"), "w") as f:
            json.dump({"github_token": "ghp_planted"}, f)
    return repo


if __name__ == "__main__":
    unittest.main()
