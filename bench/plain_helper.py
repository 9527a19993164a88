"""The credential helper written as a plain Python script: the baseline that
the benchmarks measure the native module and its launcher against.

It holds the same five functions and the same dispatch, with the same rules:
the token goes only to GitHub (the host, without one trailing ":" and port
digits, is "github.com" or ends with ".github.com"), only when a protocol
line, if any, says exactly "https", and never when a str token holds a
carriage return, a line feed or a NUL.

Run as a script (`python3.12 -I -S plain_helper.py get`) it answers git's
request on stdin; imported, it exposes the functions for the call and
parsing benchmarks.
"""
import sys, os, json

CONFIG_PATH = os.path.expanduser("~/.kestrune/config.json")

GITHUB_HOST = "github.com"


def _read_token():
    try:
        with open(CONFIG_PATH, "r", encoding="utf-8") as f:
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
    if not isinstance(host, str):
        return False
    name, colon, port = host.rpartition(":")
    if colon and port and port.isascii() and port.isdigit():
        host = name
    return host == GITHUB_HOST or (
        len(host) > len(GITHUB_HOST) + 1 and host.endswith("." + GITHUB_HOST))


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
    if isinstance(token, str) and ("\r" in token or "\n" in token or "\0" in token):
        return
    print("username=x-access-token")
    print(f"password={token}")
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
