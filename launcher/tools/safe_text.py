"""Text from outside made safe to show: helper values and keys from git's
config, remote names and URLs, file contents and git's own messages.

`shown` masks every secret it can recognise (the configured token, GitHub's
token shapes, the password of a URL, a `password=` field) and escapes what a
terminal would act on: control characters become `\\n`, `\\t`, `\\r`, `\\xNN`
(C0 and DEL) or `\\u00NN` (C1), and bytes that are not UTF-8 become `\\xNN`
with the byte's value, so the result is printable, valid UTF-8 and holds no escape
sequence. `shell_word` quotes a word for a suggested command so that it never
carries a raw control character.
"""
import re

import _kestrune_config_check as config_check

# GitHub's token shapes: a known prefix and the token's characters.
TOKEN_SHAPE = re.compile(r"(?:github_pat_|gh[pousr]_)[A-Za-z0-9_]+")
# The password of a URL: what stands between "user:" and "@" in its authority.
URL_PASSWORD = re.compile(r"([A-Za-z][A-Za-z0-9+.-]*://[^/?#@\s:]*):[^/?#@\s]*@")
# A password as a helper prints it: "password=...".
PASSWORD_FIELD = re.compile(r"(password=)[^\s'\";|&]+")
HIDDEN = "***"
# What a terminal acts on, and what the file system decoding leaves of a byte
# that is not UTF-8 (a lone surrogate).
UNSAFE = re.compile(r"[\x00-\x1f\x7f-\x9f\ud800-\udfff]")
NAMED_ESCAPES = {"\n": "\\n", "\t": "\\t", "\r": "\\r"}
# Characters a word may hold and still need no quoting in a shell.
SHELL_SAFE = frozenset("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:@=%")
# The configured token is masked wherever it appears, once it is this long;
# a shorter one is too likely to stand in ordinary text.
MIN_MASKED_TOKEN = 8

_configured_token = []


def configured_token():
    """The token of the config file, read once; None when there is none."""
    if not _configured_token:
        finding = config_check.read_config(config_check.config_path())
        _configured_token.append(finding.token)
    return _configured_token[0]


def decoded(value):
    """`value` as str: bytes are decoded as UTF-8, bytes that are not UTF-8
    kept as lone surrogates (which `shown` escapes)."""
    if isinstance(value, bytes):
        return value.decode("utf-8", "surrogateescape")
    return value


def escape_character(match):
    c = match.group()
    if c in NAMED_ESCAPES:
        return NAMED_ESCAPES[c]
    code = ord(c)
    if 0xDC80 <= code <= 0xDCFF:
        return "\\x%02x" % (code - 0xDC00)
    return "\\x%02x" % code if code < 0x80 else "\\u%04x" % code


def mask(text):
    """`text` with every secret it can recognise replaced."""
    token = configured_token()
    if token and len(token) >= MIN_MASKED_TOKEN:
        text = text.replace(token, config_check.mask_token(token))
    text = TOKEN_SHAPE.sub(lambda m: config_check.mask_token(m.group()), text)
    text = URL_PASSWORD.sub(lambda m: m.group(1) + ":" + HIDDEN + "@", text)
    return PASSWORD_FIELD.sub(lambda m: m.group(1) + HIDDEN, text)


def shown(value):
    """`value` (str or bytes) as it may be printed: masked, then escaped."""
    return UNSAFE.sub(escape_character, mask(decoded(value)))


def shown_all(value):
    """`shown` applied to every str of a structure of dicts and lists."""
    if isinstance(value, (str, bytes)):
        return shown(value)
    if isinstance(value, dict):
        return {k: shown_all(v) for k, v in value.items()}
    if isinstance(value, list):
        return [shown_all(v) for v in value]
    return value


def shell_word(text):
    """`text` as one shell word: as it is when it needs no quoting, in single
    quotes when it holds no control character, else in $'...' with every
    control character and undecodable byte escaped (bash, zsh, ksh and
    POSIX.1-2024 shells read that form)."""
    text = decoded(text)
    if text and all(c in SHELL_SAFE for c in text):
        return text
    if not UNSAFE.search(text):
        return "'" + text.replace("'", "'\\''") + "'"
    quoted = text.replace("\\", "\\\\").replace("'", "\\'")
    return "$'" + UNSAFE.sub(escape_character, quoted) + "'"


def command_text(words):
    return " ".join(shell_word(w) for w in words)
