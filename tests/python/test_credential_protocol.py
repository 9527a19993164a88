"""The credential protocol as git sees it: requests on standard input, exact
answer bytes on standard output, exit status 0 and nothing on standard error
(but the one line that says why a GitHub request got no token), through the
launcher."""
import os
import unittest

from launcher_support import (GITHUB_REQUEST, NO_TOKEN_LINE, TOKEN, answer, clean_env, config_path,
                              make_home, no_token_line, rejected_token_line, run_launcher)


class ProtocolCase(unittest.TestCase):
    config = {"github_token": TOKEN}

    def setUp(self):
        self.home = make_home(self, self.config)

    def helper(self, stdin, *args):
        result = run_launcher(args, stdin, home=self.home)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 0)
        return result.stdout

    def assert_answers(self, cases, args=("get",)):
        for stdin, expected in cases:
            with self.subTest(stdin=stdin, args=args):
                self.assertEqual(self.helper(stdin, *args), expected)


class DispatchTest(ProtocolCase):
    def test_get_is_the_default_and_later_arguments_are_ignored(self):
        for args in (("get",), (), ("get", "store", "--help")):
            with self.subTest(args=args):
                self.assertEqual(self.helper(GITHUB_REQUEST, *args), answer(TOKEN))

    def test_other_actions_write_nothing(self):
        for action in ("store", "erase", "GET", "Get", "list", "", "-get", "--"):
            with self.subTest(action=action):
                self.assertEqual(self.helper(GITHUB_REQUEST, action), b"")

    def test_store_and_erase_leave_the_config_file_unchanged(self):
        with open(config_path(self.home), "rb") as f:
            before = f.read()
        for action in ("store", "erase"):
            self.helper(GITHUB_REQUEST[:-1] + b"username=u\npassword=p\n\n", action)
        with open(config_path(self.home), "rb") as f:
            self.assertEqual(f.read(), before)


class RequestParsingTest(ProtocolCase):
    def test_request_ends_at_the_first_empty_line_or_the_end_of_input(self):
        self.assert_answers([
            (b"protocol=https\nhost=github.com", answer(TOKEN)),
            (b"host=github.com\n", answer(TOKEN)),
            (b"host=github.com\n\nhost=evil.example\n\n", answer(TOKEN)),
            (b"host=evil.example\n\nhost=github.com\n\n", b""),
            (b"\nhost=github.com\n\n", b""),
            (b"", b""),
        ])

    def test_lines(self):
        self.assert_answers([
            (b"host=evil.example\nhost=github.com\n\n", answer(TOKEN)),
            (b"host=github.com\nhost=evil.example\n\n", b""),
            (b"no equals sign\nhost=github.com\n\n", answer(TOKEN)),
            (b" \thost  =github.com\n\n", answer(TOKEN)),
            (b"host= github.com\n\n", b""),
            (b"host=github.com \n\n", b""),
            (b"host=github.com\r\n\r\n", b""),
            (b"host=github.com=\n\n", b""),
            (b"=github.com\n\n", b""),
        ])


class HostAndProtocolTest(ProtocolCase):
    def test_github_and_its_subdomains_with_or_without_a_port(self):
        self.assert_answers(
            (b"protocol=https\nhost=" + host + b"\n\n", answer(TOKEN))
            for host in (b"github.com", b"github.com:8443", b"github.com:1",
                         b"api.github.com", b"gist.github.com:443", b"GitHub.com",
                         b"API.GITHUB.COM:443", b"github.com."))

    def test_other_hosts_get_no_answer(self):
        self.assert_answers(
            (b"protocol=https\nhost=" + host + b"\n\n", b"")
            for host in (b"github.com.evil.example", b"evilgithub.com", b"github.com:",
                         b"github.com:443:443", b"github.com:44x", b"github.com:-1",
                         b"github.com:\xd9\xa1", b"github.co",
                         b"github.com/evil", b"api.github.com.evil.example:443",
                         b"evil.example?github.com", b"x@github.com.evil.example", b"",
                         b"evil.test/.github.com", b"a@b.github.com", b"x:1.github.com",
                         b"-a.github.com", b"github.com:0", b"github.com:65536",
                         "g\u0131thub.com".encode(), "GITHUB.\u212aOM".encode()))

    def test_no_host_line_gets_no_answer(self):
        self.assert_answers([(b"protocol=https\npath=github.com\n\n", b""),
                             (b"url=https://github.com/\n\n", b"")])

    def test_only_https_or_no_protocol_line_is_answered(self):
        self.assert_answers([
            (b"host=github.com\n\n", answer(TOKEN)),
            (b"protocol=https\nhost=github.com\n\n", answer(TOKEN)),
            (b"host=github.com\nprotocol=https\n\n", answer(TOKEN)),
            (b"protocol=http\nhost=github.com\n\n", b""),
            (b"protocol=HTTPS\nhost=github.com\n\n", b""),
            (b"protocol=https \nhost=github.com\n\n", b""),
            (b"protocol=\nhost=github.com\n\n", b""),
            (b"protocol=ssh\nhost=github.com\n\n", b""),
            (b"protocol=https\nprotocol=http\nhost=github.com\n\n", b""),
        ])


class TokenTest(unittest.TestCase):
    def answer_for(self, config=None, raw=None):
        home = make_home(self, config, raw=raw)
        result = run_launcher(["get"], GITHUB_REQUEST, home=home)
        self.assertEqual(result.returncode, 0)
        if result.stdout:
            self.assertEqual(result.stderr, b"")
        else:
            self.assertRegex(result.stderr, NO_TOKEN_LINE)
        return result.stdout

    def test_a_token_outside_the_token_rule_is_withheld(self):
        for token in ("ghp_a\nusername=evil", "ghp_a\r", "ghp_a\x00b", "ghp_a\x0b", "ghp_a\x0c",
                      "ghp_a\x1b[2J", "ghp_a\x07", "ghp_a\x85", "ghp_a\u2028", "ghp a",
                      "t\u00f6k\u20acn", "g" * 4001, 5, 1.5, True, float("nan"), ["a"],
                      {"token": "t", "other_secret": "s"}):
            with self.subTest(token=token):
                self.assertEqual(self.answer_for({"github_token": token}), b"")

    def test_longest_token_is_answered_whole(self):
        token = "g" * 4000
        self.assertEqual(self.answer_for({"github_token": token}), answer(token))

    def test_no_token_no_answer(self):
        configs = [{"github_token": v} for v in ("", 0, False, None, [], {})]
        configs.append({"token": TOKEN})
        for config in configs:
            with self.subTest(config=config):
                self.assertEqual(self.answer_for(config), b"")

    def test_unreadable_config_no_answer(self):
        for raw in (None, b"", b"{github_token: 1}", b'["github_token"]', b'"ghp_a"',
                    b'{"github_token": "\xff"}'):
            with self.subTest(raw=raw):
                self.assertEqual(self.answer_for(raw=raw), b"")


class NoTokenReasonTest(unittest.TestCase):
    """A GitHub `get` that the config file cannot answer gets exactly one line
    on standard error saying why; nothing else ever does."""

    def run_get(self, home, request=GITHUB_REQUEST, **kwargs):
        result = run_launcher(["get"], request, home=home, **kwargs)
        self.assertEqual((result.returncode, result.stdout), (0, b""))
        self.assertNotIn(TOKEN.encode(), result.stderr)
        return result.stderr

    def assert_reasons(self, cases):
        """cases: (label, config, change(home) or None, reason)."""
        for label, config, change, reason in cases:
            with self.subTest(label):
                if isinstance(config, bytes):
                    home = make_home(self, raw=config)
                else:
                    home = make_home(self, config)
                if change:
                    change(home)
                self.assertEqual(self.run_get(home), no_token_line(reason, config_path(home)))

    def test_each_file_owner_and_mode_reason_gives_its_line(self):
        def chmod(mode, folder=False):
            def change(home):
                path = config_path(home)
                os.chmod(os.path.dirname(path) if folder else path, mode)
            return change

        def chown_other(home):
            os.chown(config_path(home), 12345, 12345)

        cases = [
            ("writable by others", {"github_token": TOKEN}, chmod(0o666), "writable by others"),
            ("folder writable by others", {"github_token": TOKEN}, chmod(0o777, folder=True),
             "folder writable by others"),
        ]
        if os.geteuid() == 0:
            cases.append(("another user's file", {"github_token": TOKEN}, chown_other,
                          "owned by another user"))
        self.assert_reasons(cases)

    def test_each_reason_gives_its_line(self):
        def make_directory(home):
            os.remove(config_path(home))
            os.mkdir(config_path(home))

        self.assert_reasons([
            ("missing", None, None, "no such file"),
            ("a directory", {}, make_directory, "not a regular file"),
            ("not JSON", b"{github_token: 1}", None, "not valid JSON"),
            ("not an object", ["github_token"], None, "not a JSON object"),
            ("no github_token", {"token": TOKEN}, None, "no github_token"),
            ("empty token", {"github_token": ""}, None, "github_token is empty"),
            ("not a string", {"github_token": None}, None, "github_token is not a string"),
        ])

    def test_a_refused_token_is_named_for_what_is_wrong_with_it(self):
        whitespace = "github_token contains whitespace or a line break"
        not_printable = "github_token contains characters outside printable ASCII"
        self.assert_reasons([
            ("line break", {"github_token": TOKEN + "\n"}, None, whitespace),
            ("carriage return", {"github_token": TOKEN + "\r\n"}, None, whitespace),
            ("space", {"github_token": "ghp_a b"}, None, whitespace),
            ("tab before a control character", {"github_token": "\x07ghp\t"}, None, whitespace),
            ("control character", {"github_token": TOKEN + "\x1b[2J"}, None, not_printable),
            ("DEL", {"github_token": TOKEN + "\x7f"}, None, not_printable),
            ("non-ASCII", {"github_token": "t\u00f6ken"}, None, not_printable),
            ("line separator", {"github_token": TOKEN + "\u2028"}, None, not_printable),
            ("lone surrogate", b'{"github_token": "ghp_\\ud800"}', None, not_printable),
            ("longest plus one", {"github_token": "g" * 4001}, None,
             "github_token is longer than 4000 characters"),
        ])

    def test_a_relative_home_is_named(self):
        base = make_home(self)
        stderr = self.run_get(None, env=clean_env(HOME="relative"), cwd=base)
        self.assertEqual(stderr, no_token_line("not an absolute path",
                                               "relative/.kestrune/config.json"))

    def test_nothing_for_other_requests_or_an_answer(self):
        broken = make_home(self, raw=b"{")
        for request in (b"protocol=https\nhost=example.com\n\n", b"protocol=http\nhost=github.com\n\n",
                        b"protocol=https\nhost=github.com.evil.example\n\n", b"", b"\n"):
            with self.subTest(request=request):
                self.assertEqual(self.run_get(broken, request), b"")
        result = run_launcher(["get"], GITHUB_REQUEST, home=make_home(self, self.good_config))
        self.assertEqual((result.stdout, result.stderr), (answer(TOKEN), b""))

    good_config = {"github_token": TOKEN}


class RejectedTokenTest(unittest.TestCase):
    """git erases a password that GitHub rejected; when it is the configured
    token, the user is told to sign in again."""

    def erase(self, request, config={"github_token": TOKEN}):
        home = make_home(self, config)
        result = run_launcher(["erase"], request, home=home)
        self.assertEqual((result.returncode, result.stdout), (0, b""))
        self.assertNotIn(TOKEN.encode(), result.stderr)
        return result.stderr, config_path(home)

    def test_the_configured_token_gives_the_line(self):
        for host in (b"github.com", b"gist.github.com", b"github.com:443"):
            with self.subTest(host=host):
                request = b"protocol=https\nhost=" + host + b"\nusername=x-access-token\npassword=" \
                    + TOKEN.encode() + b"\n\n"
                stderr, path = self.erase(request)
                self.assertEqual(stderr, rejected_token_line(path))

    def test_nothing_for_another_password_host_or_config(self):
        token = TOKEN.encode()
        for request, config in [
                (b"protocol=https\nhost=github.com\npassword=other\n\n", {"github_token": TOKEN}),
                (b"protocol=https\nhost=github.com\n\n", {"github_token": TOKEN}),
                (b"protocol=https\nhost=example.com\npassword=" + token + b"\n\n", {"github_token": TOKEN}),
                (b"protocol=http\nhost=github.com\npassword=" + token + b"\n\n", {"github_token": TOKEN}),
                (b"protocol=https\nhost=github.com\npassword=" + token + b"\n\n", {"token": TOKEN}),
                (b"", {"github_token": TOKEN})]:
            with self.subTest(request=request, config=config):
                self.assertEqual(self.erase(request, config)[0], b"")


if __name__ == "__main__":
    unittest.main()
