"""The credential protocol as git sees it: requests on standard input, exact
answer bytes on standard output, exit status 0 and nothing on standard error,
through the launcher."""
import unittest

from launcher_support import GITHUB_REQUEST, TOKEN, answer, config_path, make_home, run_launcher


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
        for action in ("store", "erase", "GET", "Get", "list", "", "--get"):
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
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 0)
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


if __name__ == "__main__":
    unittest.main()
