"""A git config file as text: its entries and section headers with the
characters they stand on, so that --setup and --remove take out exactly the
lines they wrote and leave every other byte of the file as it was.

The reading follows git's own syntax (git-config(1), "CONFIGURATION FILE"):
comments, `[section "subsection"]` and the older `[section.subsection]`,
entries after a header on its own line, values with quotes, escapes and
continued lines, a key with no "=" at all. Whoever edits with it compares
the entries read here with git's reading of the same bytes first, so a file
read differently here is left alone rather than damaged.
"""

SPACE = " \t\n\r"
BOM = "\ufeff"


class ConfigSyntaxError(Exception):
    pass


class TextEntry:
    """One entry: `key` as git names it ("section.subsection.name", section
    and name in lower case), `value` (None for a key with no "="), `line`
    (1-based) and the span [start, end) of its text, from its first character
    to after its line break. `alone`: nothing but white space before it on its
    line, so its lines can be taken out whole."""

    def __init__(self, key, value, line, start, end, alone):
        self.key, self.value, self.line = key, value, line
        self.start, self.end, self.alone = start, end, alone


class Header:
    """A section header: where its line starts, and the span of its whole
    line when it stands alone on it (else None)."""

    def __init__(self, line_start, line_span):
        self.line_start, self.line_span = line_start, line_span


def is_alpha(c):
    return c.isascii() and c.isalpha()


def is_key_char(c):
    return c.isascii() and (c.isalnum() or c == "-")


class Scanner:
    """Characters as git reads them: "\\r\\n" is one line break, and the end
    of the text reads as a line break with `eof` set."""

    def __init__(self, text):
        self.text, self.pos, self.line, self.eof = text, 0, 1, False
        if text.startswith(BOM):
            self.pos = 1

    def next(self):
        if self.pos >= len(self.text):
            self.eof = True
            return "\n"
        c = self.text[self.pos]
        self.pos += 1
        if c == "\r" and self.text.startswith("\n", self.pos):
            self.pos += 1
            c = "\n"
        if c == "\n":
            self.line += 1
        return c

    def line_start(self, pos):
        return self.text.rfind("\n", 0, pos) + 1

    def fail(self):
        raise ConfigSyntaxError("bad config line %d" % self.line)


def read_header(scan):
    """The section name of a header after its "[": "section" or
    "section.subsection"."""
    name = ""
    while True:
        c = scan.next()
        if scan.eof:
            scan.fail()
        if c == "]":
            return name
        if c in SPACE:
            break
        if not is_key_char(c) and c != ".":
            scan.fail()
        name += c.lower()
    while c in SPACE:
        if c == "\n":
            scan.fail()
        c = scan.next()
    if c != '"':
        scan.fail()
    name += "."
    while True:
        c = scan.next()
        if c == "\n":
            scan.fail()
        if c == '"':
            break
        if c == "\\":
            c = scan.next()
            if c == "\n":
                scan.fail()
        name += c
    if scan.next() != "]":
        scan.fail()
    return name


ESCAPES = {"t": "\t", "b": "\b", "n": "\n", "\\": "\\", '"': '"'}


def read_value(scan):
    """A value after its "=", up to and including its line break."""
    value, quote, comment, space = "", False, False, 0
    while True:
        c = scan.next()
        if c == "\n":
            if quote:
                scan.fail()
            return value
        if comment:
            continue
        if c in SPACE and not quote:
            if value:
                space += 1
            continue
        if not quote and c in ";#":
            comment = True
            continue
        value += " " * space
        space = 0
        if c == "\\":
            c = scan.next()
            if c == "\n":
                continue
            if c not in ESCAPES:
                scan.fail()
            value += ESCAPES[c]
        elif c == '"':
            quote = not quote
        else:
            value += c


def parse(text):
    """(entries, headers) of the config text, in order. Raises
    ConfigSyntaxError where git would stop reading."""
    if "\0" in text:
        raise ConfigSyntaxError("a NUL byte")
    scan = Scanner(text)
    entries, headers, section, comment = [], [], "", False
    while True:
        start = scan.pos
        c = scan.next()
        if c == "\n":
            if scan.eof:
                return entries, headers
            comment = False
            continue
        if comment or c in SPACE:
            continue
        if c in "#;":
            comment = True
            continue
        line_start = scan.line_start(start)
        alone = not text[line_start:start].strip(SPACE)
        if c == "[":
            section = read_header(scan)
            if not section:
                scan.fail()
            rest = text.find("\n", scan.pos)
            rest = len(text) if rest < 0 else rest + 1
            headers.append(Header(line_start, (line_start, rest)
                                  if alone and not text[scan.pos:rest].strip(SPACE) else None))
            continue
        if not is_alpha(c):
            scan.fail()
        line = scan.line
        name = c.lower()
        c = scan.next()
        while not scan.eof and is_key_char(c):
            name += c.lower()
            c = scan.next()
        while c in " \t":
            c = scan.next()
        value = None
        if c != "\n":
            if c != "=":
                scan.fail()
            value = read_value(scan)
        key = section + "." + name if section else name
        entries.append(TextEntry(key, value, line, start, scan.pos, alone))


def config_value(value):
    """`value` written as git writes a config value: in double quotes when it
    starts or ends with a space or holds a comment character, with
    backslash, quote, tab, newline and backspace escaped."""
    escaped = "".join({"\\": "\\\\", '"': '\\"', "\t": "\\t", "\n": "\\n", "\b": "\\b"}.get(c, c)
                      for c in value)
    if value.startswith(" ") or value.endswith(" ") or "#" in value or ";" in value:
        return '"' + escaped + '"'
    return escaped


def section_header(key):
    """The header line that opens the section of `key` ("a.b.name" or
    "a.name")."""
    section, _, rest = key.partition(".")
    subsection = rest.rpartition(".")[0]
    if not subsection:
        return "[%s]" % section
    return '[%s "%s"]' % (section, subsection.replace("\\", "\\\\").replace('"', '\\"'))


def without_entries(text, entries, headers):
    """`text` without the lines of `entries` (each `alone`, ending at a line
    break or at the end), and without a header whose whole section was those
    lines."""
    spans = sorted((text.rfind("\n", 0, e.start) + 1, e.end) for e in entries)
    for i, header in enumerate(headers):
        if not header.line_span:
            continue
        begin, end = header.line_span
        following = [h.line_start for h in headers[i + 1:] if h.line_start > begin]
        section_end = following[0] if following else len(text)
        covered, position = False, end
        for span in spans:
            if span[0] == position and span[1] <= section_end:
                position, covered = span[1], True
        if covered and position == section_end:
            spans.append(header.line_span)
    kept, position = [], 0
    for begin, end in sorted(spans):
        kept.append(text[position:begin])
        position = max(position, end)
    kept.append(text[position:])
    return "".join(kept)
