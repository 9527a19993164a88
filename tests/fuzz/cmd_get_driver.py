"""What the fuzz harness checks for one input.

fuzz_cmd_get.cpp runs this file once in its embedded interpreter, calls
setup() with a scratch directory, and then check(request, config) for every
input. check raises AssertionError when cmd_get does anything that the rules
below do not allow; any exception at all makes the harness abort.

The rules are restated here on their own, from how git writes a request and
how the helper is meant to answer it, so that the fuzzer compares two
independent readings rather than the module with itself.
"""
import io
import json
import os
import re
import sys
import traceback

import git_credential_kestrune as helper

ANSWER_HEAD = b"username=x-access-token\npassword="
GITHUB = "github.com"
ENTRY = "scripts.git_credential_kestrune."

config_path = ""
config_opened = False
watching = False


def _watch_opens(event, args):
    global config_opened
    if watching and event == "open" and args[0] == config_path:
        config_opened = True


def setup(directory):
    global config_path
    config_path = os.path.join(directory, "config.json")
    helper.CONFIG_PATH = config_path
    sys.addaudithook(_watch_opens)


def request_fields(text):
    """The key=value pairs of a request up to its first empty line."""
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()  # the text ended with a line feed: no further line
    fields = {}
    for line in lines:
        if line == "":
            break
        key, equals, value = line.partition("=")
        if equals:
            fields[key.strip()] = value
    return fields


def names_github(host):
    """GitHub or one of its subdomains (DNS labels), in any ASCII case, with
    or without a port of 1 to 65535 and one trailing dot."""
    port = re.fullmatch(r"(.*):([0-9]{1,5})", host, re.DOTALL)
    if port and 1 <= int(port[2]) <= 65535:
        host = port[1]
    if host.endswith("."):
        host = host[:-1]
    return re.fullmatch(r"(?:(?!-)[a-z0-9-]{1,63}(?<!-)\.)*github\.com", host,
                        re.ASCII | re.IGNORECASE) is not None


class Unknown:
    """The configuration nests deeper than the interpreter's recursion limit
    allows near the point of the call: whether load succeeds depends on how
    deep the caller already is, so either outcome is right."""


def configured_token():
    try:
        with open(config_path, encoding="utf-8") as f:
            cfg = json.load(f)
        return cfg.get("github_token", "") or ""
    except RecursionError:
        return Unknown
    except Exception:
        return ""


def fits_the_answer(token):
    """Only a str of 1 to 4,000 printable ASCII characters other than space
    is sent: nothing else can bend the answer's lines, and the whole answer
    stays one write of under 4,096 bytes."""
    return isinstance(token, str) and re.fullmatch(r"[!-~]{1,4000}", token) is not None


def may_answer(request):
    """Whether the request names GitHub over HTTPS (or names no protocol)."""
    fields = request_fields(request.decode("utf-8", "surrogateescape"))
    return names_github(fields.get("host", "")) and fields.get("protocol", "https") == "https"


def expected_answer(request):
    """The answer's bytes, or Unknown."""
    if not may_answer(request):
        return b""
    token = configured_token()
    if token is Unknown:
        return Unknown
    if not token or not fits_the_answer(token):
        return b""
    return ANSWER_HEAD + token.encode("ascii") + b"\n\n"


def run_cmd_get(request, errors):
    """cmd_get with standard streams like the launcher's. Returns (bytes
    written, exception raised or None, whether the config file was opened)."""
    global watching, config_opened
    written = io.BytesIO()
    stdout = io.TextIOWrapper(written, encoding="utf-8", errors="surrogateescape", newline="\n")
    saved = sys.stdin, sys.stdout
    sys.stdin = io.TextIOWrapper(io.BytesIO(request), encoding="utf-8", errors=errors, newline="\n")
    sys.stdout = stdout
    raised = None
    config_opened = False
    watching = True
    try:
        helper.cmd_get()
    except BaseException as e:  # noqa: B902 - every exception is a finding here
        raised = e
    finally:
        watching = False
        sys.stdin, sys.stdout = saved
    stdout.flush()
    stdout.detach()  # the wrapper would close `written` when collected
    return written.getvalue(), raised, config_opened


def describe(request, config, written, expected, raised):
    lines = [f"request={request!r}", f"config={config!r}", f"written={written!r}",
             f"expected={expected!r}"]
    if raised is not None:
        lines += traceback.format_exception(raised)
    return "\n".join(lines)


def check(request, config):
    if config is None:
        if os.path.lexists(config_path):
            os.remove(config_path)
    else:
        with open(config_path, "wb") as f:
            f.write(config)

    expected = expected_answer(request)
    written, raised, opened = run_cmd_get(request, "surrogateescape")
    why = describe(request, config, written, expected, raised)
    assert raised is None, "cmd_get raised\n" + why
    if expected is Unknown:
        assert written == b"" or (written.startswith(ANSWER_HEAD) and written.endswith(b"\n\n")
                                  and written.count(b"\n") == 3), "not an answer\n" + why
    else:
        assert written == expected, "wrong answer\n" + why
    # The file is opened for a request that may be answered, and only then;
    # a missing file is found missing without an attempt to open it. (The
    # file here is always a small regular file of ours in a folder of ours.)
    should_open = may_answer(request) and config is not None
    assert opened == should_open, f"config opened: {opened}\n" + why

    try:
        request.decode("utf-8")
    except UnicodeDecodeError:
        pass
    else:
        return
    # Standard input that refuses bytes that are not UTF-8: the decoding error
    # passes up through _parse_input and cmd_get with nothing written, unless
    # the request ended before the bad bytes were decoded.
    written, raised, _ = run_cmd_get(request, "strict")
    why = describe(request, config, written, expected, raised)
    if raised is None:
        assert expected is Unknown or written == expected, "wrong answer\n" + why
        return
    assert isinstance(raised, UnicodeDecodeError), "unexpected exception\n" + why
    assert written == b"", "written before failing\n" + why
    entries = [(f.name, f.lineno) for f in traceback.extract_tb(raised.__traceback__)
               if f.name.startswith(ENTRY)]
    assert entries == [(ENTRY + "cmd_get", 44), (ENTRY + "_parse_input", 34)], why
