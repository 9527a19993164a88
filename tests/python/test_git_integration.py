"""Real git with the built launcher as its credential helper."""
import os
import subprocess
import unittest

from launcher_support import LAUNCHER, TOKEN, clean_env, config_path, make_home

# A second helper that answers whatever the first leaves unanswered, so that a
# request our helper stays silent on shows up as this answer.
FALLBACK = "!f() { echo username=fallback; echo password=fallback; }; f"


class GitCredentialTest(unittest.TestCase):
    def setUp(self):
        self.home = make_home(self, {"github_token": TOKEN})

    def git(self, *args, stdin, helpers=(LAUNCHER, FALLBACK), path=None):
        options = ["-c", "credential.helper="]
        for helper in helpers:
            options += ["-c", "credential.helper=" + helper]
        env = clean_env(HOME=self.home, PATH=path or os.environ["PATH"],
                        GIT_CONFIG_NOSYSTEM="1", GIT_TERMINAL_PROMPT="0")
        result = subprocess.run(["git", *options, *args], input=stdin, env=env, cwd=self.home,
                                capture_output=True, timeout=60)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        return result.stdout

    def fill(self, request, **kwargs):
        return self.git("credential", "fill", stdin=request, **kwargs)

    def test_fill_answers_for_github_over_https(self):
        token = TOKEN.encode()
        self.assertEqual(
            self.fill(b"protocol=https\nhost=github.com\n\n"),
            b"protocol=https\nhost=github.com\nusername=x-access-token\npassword=" + token + b"\n")
        self.assertEqual(
            self.fill(b"url=https://api.github.com/repos/o/r\n\n"),
            b"protocol=https\nhost=api.github.com\nusername=x-access-token\npassword="
            + token + b"\n")

    def test_fill_is_silent_for_other_hosts_and_for_http(self):
        for url in (b"https://github.com.evil.example/o/r", b"https://evilgithub.com/o/r",
                    b"https://example.com", b"http://github.com/o/r"):
            with self.subTest(url=url):
                protocol, _, host = url.partition(b"://")
                host = host.partition(b"/")[0]
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


if __name__ == "__main__":
    unittest.main()
