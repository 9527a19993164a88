"""The credential helper written as a plain Python script: the baseline that
the benchmarks measure the native module and its launcher against.

It holds the same five functions and the same dispatch, with the same rules:
the configuration file is read only from an absolute path, when it is a
regular file of at most 1 MiB and neither it nor its folder belongs to
another user or is writable by others; the token goes only to GitHub (after
an optional port of 1 to 65535 and one trailing dot, the host in any ASCII
case is "github.com" or DNS labels followed by ".github.com"), only when a
protocol line, if any, says exactly "https", and only when it is a str of 1
to 4,000 printable ASCII characters other than space.

Run as a script (`python3.12 -I -S plain_helper.py get`) it answers git's
request on stdin; imported, it exposes the functions for the call and
parsing benchmarks.
"""
import sys, os, json

CONFIG_PATH = os.path.expanduser("~/.kestrune/config.json")

GITHUB_HOST = "github.com"


def _config_file_is_safe(path):
    raw = os.fsencode(path)
    if not raw.startswith(b"/"):
        return False
    st = os.stat(raw)
    if st.st_mode & 0o170000 != 0o100000 or st.st_size > 1 << 20:
        return False
    uid = os.geteuid()
    for s in (st, os.stat(raw[:raw.rfind(b"/")] or b"/")):
        if s.st_uid not in (0, uid) or s.st_mode & 0o002:
            return False
    return True


def _read_token():
    try:
        path = os.fspath(CONFIG_PATH)
        if not _config_file_is_safe(path):
            return ""
        with open(path, "r", encoding="utf-8") as f:
            cfg = json.load(f)
        return cfg.get("github_token", "") or ""
    except Exception:
        return ""


def _parse_input():
    """Parse the key=value lines git sends on stdin."""
    data = {}
    for line in sys.stdin:
        line = line.rstrip("\n")
        if line == "":
            break
        if "=" not in line:
            continue
        k, _, v = line.partition("=")
        data[k.strip()] = v
    return data


def _host_is_github(host):
    if not isinstance(host, str) or not host.isascii():
        return False
    name, colon, port = host.rpartition(":")
    if colon and 1 <= len(port) <= 5 and port.isdigit() and 1 <= int(port) <= 65535:
        host = name
    if host.endswith("."):
        host = host[:-1]
    host = host.lower()
    if host == GITHUB_HOST:
        return True
    if not host.endswith("." + GITHUB_HOST):
        return False
    for label in host[:-len(GITHUB_HOST) - 1].split("."):
        if (not 1 <= len(label) <= 63 or label[0] == "-" or label[-1] == "-"
                or not label.replace("-", "").isalnum()):
            return False
    return True


def cmd_get():
    data = _parse_input()
    host = data.get("host", "")
    # Only answer for GitHub over HTTPS
    if not isinstance(host, str):
        GITHUB_HOST in host  # what the containment test raises, it raises here
        return
    if not _host_is_github(host):
        return
    protocol = data.get("protocol")
    if protocol is not None and protocol != "https":
        return
    token = _read_token()
    if not token:
        return
    if (not isinstance(token, str) or len(token) > 4000 or not token.isascii()
            or not token.isprintable() or " " in token):
        return
    print("username=x-access-token")
    print("password=" + token)
    print()


def cmd_store():
    pass


def cmd_erase():
    pass


if __name__ == "__main__":
    action = sys.argv[1] if len(sys.argv) > 1 else "get"
    if action == "get":
        cmd_get()
    elif action == "store":
        cmd_store()
    elif action == "erase":
        cmd_erase()
