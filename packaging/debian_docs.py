"""Files of the packages made at build time, reproducibly.

    debian_docs.py gzip SOURCE OUT
        SOURCE compressed as Debian wants documentation: best compression, no
        file name or time stamp in the header.
    debian_docs.py copyright HEADER PROJECT_LICENSE CPYTHON_LICENSE OUT
        The machine-readable copyright file: HEADER (the Files paragraphs,
        with @PROJECT_COPYRIGHT@ standing for the holders named on the
        copyright line of PROJECT_LICENSE) followed by two License
        paragraphs: Expat, the permission notice of PROJECT_LICENSE (the MIT
        licence), and PSF-2.0, CPython's licence, each in the file's
        continuation-line form.
"""
import gzip
import re
import sys


def compress(source, out):
    with open(source, "rb") as f:
        data = f.read()
    with open(out, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=0) as f:
            f.write(data)


def project_licence(path):
    """The holders named on the copyright line of the project's LICENSE, and
    the text that follows that line: the Files paragraphs name the holders,
    the License paragraph holds the terms."""
    with open(path, encoding="utf-8") as f:
        paragraphs = f.read().strip("\n").split("\n\n")
    for index, paragraph in enumerate(paragraphs):
        match = re.fullmatch(r"Copyright \(c\) (.+)", paragraph)
        if match:
            return match.group(1), "\n\n".join(paragraphs[index + 1:])
    sys.exit("%s: no line 'Copyright (c) YEAR HOLDERS'" % path)


def licence_paragraph(name, text):
    lines = [line.rstrip() for line in text.strip("\n").splitlines()]
    return "License: %s\n" % name + "".join(" %s\n" % (line or ".") for line in lines)


def copyright_file(header, project_licence_path, cpython_licence_path, out):
    holders, terms = project_licence(project_licence_path)
    with open(header, encoding="utf-8") as f:
        text = f.read().rstrip("\n").replace("@PROJECT_COPYRIGHT@", holders)
    with open(cpython_licence_path, encoding="utf-8") as f:
        cpython_terms = f.read()
    text += "\n\n" + licence_paragraph("Expat", terms)
    text += "\n" + licence_paragraph("PSF-2.0", cpython_terms)
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    if len(argv) == 4 and argv[1] == "gzip":
        compress(argv[2], argv[3])
    elif len(argv) == 6 and argv[1] == "copyright":
        copyright_file(argv[2], argv[3], argv[4], argv[5])
    else:
        sys.exit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
