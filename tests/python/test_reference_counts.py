"""Calls of the module's functions, on success and on every failing path,
release everything they take: reference counts and live objects settle."""
import contextlib
import gc
import io
import json
import os
import sys
import tempfile
import unittest

import support  # noqa: F401
import git_credential_kestrune as helper


class ReferenceCountTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.config = os.path.join(self.dir.name, "config.json")
        with open(self.config, "w") as f:
            json.dump({"github_token": "tok"}, f)
        saved = (helper.CONFIG_PATH, sys.stdin)
        self.addCleanup(lambda: (setattr(helper, "CONFIG_PATH", saved[0]),
                                 setattr(sys, "stdin", saved[1])))
        helper.CONFIG_PATH = self.config

    def assertSettles(self, call, rounds=2000):
        """Runs `call` until warm, then checks that another `rounds` calls
        leave allocated blocks, live objects and the refcounts of the objects
        involved where they were. A leak of even one block a call grows with
        the rounds; free lists and caches filling up on the way add a few
        blocks once, so a batch may be retried twice."""
        watched = [helper.cmd_get, helper._read_token, helper._parse_input, helper.CONFIG_PATH,
                   "github_token", "host", None, True, False]

        def measure():
            gc.collect()
            return (sys.getallocatedblocks(), len(gc.get_objects()),
                    [sys.getrefcount(o) for o in watched])

        for _ in range(1000):
            call()
        for attempt in range(3):
            before = measure()
            for _ in range(rounds):
                call()
            after = measure()
            if after[0] - before[0] <= 20 and after[1] - before[1] <= 10:
                break
        self.assertLessEqual(after[0] - before[0], 20, "allocated blocks grew")
        self.assertLessEqual(after[1] - before[1], 10, "live objects grew")
        self.assertEqual(after[2], before[2], "reference counts changed")

    def quiet(self, function, request="protocol=https\nhost=github.com\n\n", raises=None):
        def call():
            sys.stdin = io.StringIO(request) if isinstance(request, str) else request
            with contextlib.redirect_stdout(io.StringIO()):
                if raises:
                    try:
                        function()
                    except raises:
                        pass
                    else:
                        raise AssertionError("did not raise")
                else:
                    function()
        return call

    def test_success_paths(self):
        for function in [helper.cmd_get, helper._parse_input, helper._read_token,
                         helper.cmd_store, helper.cmd_erase]:
            with self.subTest(function.__name__):
                self.assertSettles(self.quiet(function))

    def test_no_answer_paths(self):
        for request in ["host=example.com\n", "protocol=http\nhost=github.com\n", "\n", ["k=v"]]:
            with self.subTest(request=request):
                self.assertSettles(self.quiet(helper.cmd_get, request))

    def test_failing_paths_that_record_traceback_entries(self):
        self.assertSettles(self.quiet(helper.cmd_get, 5, TypeError))
        self.assertSettles(self.quiet(helper._parse_input, object(), TypeError))

        def refused():
            try:
                helper.cmd_get(1)
            except TypeError:
                pass
        self.assertSettles(refused)

    def test_read_token_failures_handled_inside(self):
        with open(self.config, "w") as f:
            f.write("{")
        self.assertSettles(helper._read_token)
        os.remove(self.config)
        self.assertSettles(helper._read_token)

    def test_exception_passing_through_read_token(self):
        saved = helper.json
        self.addCleanup(setattr, helper, "json", saved)

        class Interrupting:
            @staticmethod
            def load(f):
                raise KeyboardInterrupt

        helper.json = Interrupting

        def call():
            try:
                helper._read_token()
            except KeyboardInterrupt:
                pass
        self.assertSettles(call)


if __name__ == "__main__":
    unittest.main()
