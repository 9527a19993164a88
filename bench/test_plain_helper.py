"""The plain Python baseline answers every request as the native module does.

The benchmarks compare the module with bench/plain_helper.py; the comparison
means something only while the two do the same work with the same result.
Each case runs the same request and configuration through both and compares
what they print and return.
"""
import contextlib
import io
import json
import os
import sys
import tempfile
import unittest

sys.path[:0] = [os.environ.get("KESTRUNE_MODULE_DIR", ""), os.path.dirname(os.path.abspath(__file__))]
import git_credential_kestrune as native  # noqa: E402
import plain_helper as plain  # noqa: E402

MODULES = {"native": native, "plain": plain}


class SameAnswers(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.config = os.path.join(self.dir.name, "config.json")
        for module in MODULES.values():
            self.addCleanup(setattr, module, "CONFIG_PATH", module.CONFIG_PATH)
            module.CONFIG_PATH = self.config
        self.addCleanup(setattr, sys, "stdin", sys.stdin)

    def write_config(self, raw):
        with open(self.config, "w", encoding="utf-8") as f:
            f.write(raw)

    def answers(self, request):
        """What each module's cmd_get prints for `request`."""
        printed = {}
        for name, module in MODULES.items():
            sys.stdin = io.StringIO(request)
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                self.assertIsNone(module.cmd_get())
            printed[name] = out.getvalue()
        return printed

    def assert_same(self, request, answered):
        printed = self.answers(request)
        self.assertEqual(printed["plain"], printed["native"], request)
        self.assertEqual(bool(printed["native"]), answered, request)

    def test_hosts(self):
        self.write_config('{"github_token": "tok"}')
        answered = ["github.com", "github.com:8443", "api.github.com", "a.b.github.com:1",
                    "GITHUB.COM", "GitHub.com.:443", "a-b.github.com"]
        silent = ["github.com.evil.example", "evilgithub.com", "github.com:", "github.com:x",
                  ".github.com", "", "github.com:1:2", "github.com:\u0661",
                  ":443", " github.com", "a/.github.com", "-a.github.com", "github.com:0",
                  "github.com:65536", "g\u0131thub.com", "a..github.com"]
        for host in answered + silent:
            with self.subTest(host=host):
                self.assert_same("host=%s\n\n" % host, host in answered)
        self.assert_same("protocol=https\n\n", False)

    def test_protocols(self):
        self.write_config('{"github_token": "tok"}')
        self.assert_same("protocol=https\nhost=github.com\n", True)
        for protocol in ["http", "HTTPS", "", "https "]:
            with self.subTest(protocol=protocol):
                self.assert_same("protocol=%s\nhost=github.com\n" % protocol, False)

    def test_tokens(self):
        answered = ['"ghp_x"', '"%s"' % ("~" * 4000)]
        silent = ['""', "0", "false", "null", '"a\\nb"', '"a\\rb"', '"a\\u0000b"', "5", "2.5",
                  "true", '["a"]', '{"k": "v"}', '"a b"', '"a\\u000bb"', '"t\\u00f6k"',
                  '"%s"' % ("~" * 4001)]
        for value in answered + silent:
            with self.subTest(token=value):
                self.write_config('{"github_token": %s}' % value)
                self.assert_same("host=github.com\n\n", value in answered)
        for raw in ["", "{", "[1]", "{}"]:
            with self.subTest(config=raw):
                self.write_config(raw)
                self.assert_same("host=github.com\n\n", False)
        os.remove(self.config)
        self.assert_same("host=github.com\n\n", False)

    def test_parsed_requests(self):
        request = ("no equals sign\n=rest\n  key  =  value  \na=b=c\nx=1\nx=2\nr=v\r\n"
                   "end=\n\nafter=empty line\n")
        for stdin in (lambda: io.StringIO(request), lambda: request.splitlines(True)):
            parsed = {}
            for name, module in MODULES.items():
                sys.stdin = stdin()
                parsed[name] = module._parse_input()
            self.assertEqual(parsed["plain"], parsed["native"])

    def test_store_and_erase_read_nothing(self):
        for name, module in MODULES.items():
            with self.subTest(name):
                stdin = io.StringIO("host=github.com\n\n")
                sys.stdin = stdin
                self.assertIsNone(module.cmd_store())
                self.assertIsNone(module.cmd_erase())
                self.assertEqual(stdin.tell(), 0)


if __name__ == "__main__":
    unittest.main()
