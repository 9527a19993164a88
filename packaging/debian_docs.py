"""Files of the packages made at build time, reproducibly.

    debian_docs.py gzip SOURCE OUT
        SOURCE compressed as Debian wants documentation: best compression, no
        file name or time stamp in the header.
    debian_docs.py copyright HEADER LICENSE OUT
        The machine-readable copyright file: HEADER (the project's own
        paragraphs) followed by a License paragraph holding LICENSE, CPython's
        licence, in the file's continuation-line form.
"""
import gzip
import sys


def compress(source, out):
    with open(source, "rb") as f:
        data = f.read()
    with open(out, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=0) as f:
            f.write(data)


def copyright_file(header, licence, out):
    with open(header, encoding="utf-8") as f:
        text = f.read().rstrip("\n") + "\n\nLicense: PSF-2.0\n"
    with open(licence, encoding="utf-8") as f:
        for line in f.read().strip("\n").splitlines():
            line = line.rstrip()
            text += " " + (line if line else ".") + "\n"
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    if len(argv) == 4 and argv[1] == "gzip":
        compress(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "copyright":
        copyright_file(argv[2], argv[3], argv[4])
    else:
        sys.exit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
