"""Kestrune git credential helper: the names the module binds when imported."""
import json as json
import os as os
import sys as sys

# ~/.kestrune/config.json with the home directory expanded when the module
# was executed.
CONFIG_PATH: str

# The config file's github_token as JSON decoded it (a str in any config the
# Kestrune application writes), or "" when the file is missing, unreadable,
# not JSON or holds no token.
def _read_token() -> object: ...

# The key=value lines git writes on stdin, up to the first empty line.
def _parse_input() -> dict[str, str]: ...

# Answers a request read from stdin on stdout, or writes nothing.
def cmd_get() -> None: ...

# Both do nothing: the config file is the only source of truth.
def cmd_store() -> None: ...
def cmd_erase() -> None: ...
