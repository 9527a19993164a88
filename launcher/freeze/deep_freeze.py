"""Lays out the code objects of frozen modules as static C objects.

freeze_modules.py gives each module's code object, compiled from its source;
this module writes it, and every object it holds, as C data in the layout of
the CPython 3.12 that runs the build: code objects with CPython's own
_PyCode_DEF, everything else with the layouts of
launcher/freeze/static_objects.h. The objects are immortal, untracked by the
collector and have no hash computed yet. A code object's bytecode is written
quickened, as `_co_code_adaptive` shows it on a code object fresh from the
compiler, so importing the module neither unmarshals nor quickens; its name
strings are interned, and its frozenset constants made, when the module is
first imported (launcher/freeze/deep_frozen_code.cpp), because both depend
on the hashes of strings, which each process makes anew.

What the interpreter already shares is referred to rather than copied:
small ints, the empty tuple, empty and one-byte bytes, one-character
strings, None, True, False, Ellipsis, the interpreter's static identifiers
(`_Py_ID`, which is what interning an equal string gives) and its names of
anonymous code ("<module>", "<lambda>", "<genexpr>", ...), which is what
the compiler gives. Equal constants (same type and value, recursively) are
written once for all modules, as the compiler merges them within one.

Whatever cannot be written this way (a constant of a type the compiler does
not make, a frozenset holding a frozenset, an object larger than
LARGEST_OBJECT) raises CannotFreeze: its module keeps its marshalled code.
"""
import marshal
import opcode
import re
import struct
import sys
import types

# The kinds of a code object's local names (CPython's CO_FAST_*).
LOCAL = 0x20
CELL = 0x40
FREE = 0x80

# Larger objects keep their module marshalled: the C string literals and
# initialisers that hold them stay of a size every compiler takes.
LARGEST_OBJECT = 1 << 20

DIGIT_BITS = sys.int_info.bits_per_digit
RESUME = opcode.opmap["RESUME"]


class CannotFreeze(Exception):
    """An object of a module that cannot be laid out statically."""


def interpreter_strings(include_dir):
    """({text: C expression}) for the interpreter's static strings that the
    compiler's output refers to: its identifiers, and its names of anonymous
    code, from pycore_global_strings.h of `include_dir`."""
    with open(include_dir + "/internal/pycore_global_strings.h", encoding="utf-8") as f:
        header = f.read()
    strings = {name: "&_Py_ID(%s)" % name for name in re.findall(r"STRUCT_FOR_ID\((\w+)\)", header)}
    for name, text in re.findall(r'STRUCT_FOR_STR\((anon_\w+), "([^"\\]*)"\)', header):
        strings[text] = "&_Py_STR(%s)" % name
    if "<module>" not in strings or "__name__" not in strings:
        sys.exit("freeze_modules: %s names no static strings" % include_dir)
    return strings


def c_text(data):
    """`data` (bytes) as a C string literal, in lines of at most 80 bytes."""
    pieces, line = [], []
    for byte in data:
        c = chr(byte)
        line.append(c if " " <= c <= "~" and c not in '"\\?' else "\\%03o" % byte)
        if len(line) >= 80:
            pieces.append('"%s"' % "".join(line))
            line = []
    if line or not pieces:
        pieces.append('"%s"' % "".join(line))
    return "\n    ".join(pieces)


def double_bits(value):
    return "UINT64_C(0x%016x)" % struct.unpack("<Q", struct.pack("<d", value))[0]


def local_kinds(code):
    """(names, kinds) of `code`'s local, cell and free variables in the
    order the interpreter keeps them (co_localsplusnames and
    co_localspluskinds), which Python shows only in part: read from the
    code object's marshalled form."""
    data = marshal.dumps(code.replace(co_consts=()))
    reader = MarshalReader(data)
    kind = reader.byte() & 0x7F
    if kind != ord("c"):
        raise CannotFreeze("marshal wrote a code object as %r" % chr(kind))
    reader.position += 5 * 4  # argcount, posonlyargcount, kwonlyargcount, stacksize, flags
    for _ in range(3):  # co_code, co_consts, co_names
        reader.read()
    names, kinds = reader.read(), reader.read()
    by_kind = {
        "co_varnames": tuple(n for n, k in zip(names, kinds) if k & LOCAL),
        "co_cellvars": tuple(n for n, k in zip(names, kinds) if k & CELL),
        "co_freevars": tuple(n for n, k in zip(names, kinds) if k & FREE),
    }
    for attribute, expected in by_kind.items():
        if getattr(code, attribute) != expected:
            raise CannotFreeze("%s of %s is not what its local kinds give" % (attribute, code.co_qualname))
    return names, kinds


class MarshalReader:
    """Reads the few object types that the local names of a marshalled code
    object are made of: bytes, tuples and strings, and references to them."""

    def __init__(self, data):
        self.data = data
        self.position = 0
        self.refs = []

    def byte(self):
        self.position += 1
        return self.data[self.position - 1]

    def int32(self):
        self.position += 4
        return struct.unpack_from("<i", self.data, self.position - 4)[0]

    def chunk(self, size):
        self.position += size
        return self.data[self.position - size:self.position]

    def read(self):
        code = self.byte()
        flagged, kind = code & 0x80, chr(code & 0x7F)
        if kind == "r":
            return self.refs[self.int32()]
        if flagged:
            index = len(self.refs)
            self.refs.append(None)
        if kind == "s":
            value = self.chunk(self.int32())
        elif kind in ")(":
            size = self.byte() if kind == ")" else self.int32()
            value = tuple(self.read() for _ in range(size))
        elif kind in "zZ":
            value = self.chunk(self.byte()).decode("ascii")
        elif kind in "aA":
            value = self.chunk(self.int32()).decode("ascii")
        elif kind in "ut":
            value = self.chunk(self.int32()).decode("utf-8", "surrogatepass")
        else:
            raise CannotFreeze("unexpected marshal type %r among local names" % kind)
        if flagged:
            self.refs[index] = value
        return value


def constant_key(value):
    """What makes two constants the same object: type and value, recursively
    (as the compiler's _PyCode_ConstantKey: 0 and 0.0, 0.0 and -0.0, 1 and
    True stay apart). Code objects are never shared."""
    kind = type(value)
    if kind is tuple:
        return (kind, tuple(constant_key(item) for item in value))
    if kind is frozenset:
        return (kind, frozenset(constant_key(item) for item in value))
    if kind is float:
        return (kind, struct.pack("<d", value))
    if kind is complex:
        return (kind, struct.pack("<dd", value.real, value.imag))
    if kind is types.CodeType:
        return (kind, id(value))
    if kind not in (str, bytes, int, bool, type(None), type(Ellipsis)):
        raise CannotFreeze("a constant of type %s" % kind.__name__)
    return (kind, value)


class StaticObjects:
    """The C definitions of the static objects of all modules, each written
    once, and the descriptor of each module."""

    def __init__(self, include_dir):
        self.shared_strings = interpreter_strings(include_dir)
        self.lines = []
        self.names = {}  # constant_key -> C expression
        self.count = 0
        # Every code object written, kept alive so that no later one takes
        # its id(), which constant_key stands it for in the key of the tuple
        # that holds it.
        self.codes_written = []

    def module(self, symbol, code):
        """Writes the static objects of a module whose code object is `code`
        and its descriptor `symbol` (struct kestrune_deep_frozen_module).
        Raises CannotFreeze, having written nothing, when an object cannot
        be laid out."""
        lines, names = len(self.lines), dict(self.names)
        try:
            codes, sets = [], []
            self.ref(code, codes)
            self.find_sets(code, sets)
        except CannotFreeze:
            del self.lines[lines:]
            self.names = names
            raise
        self.lines.append("static PyCodeObject* const %s_code[] = {\n%s\n};"
                          % (symbol, ",\n".join("    (PyCodeObject*)%s" % c for c in codes)))
        if sets:
            self.lines.append("static PyObject** const %s_set_slots[] = {\n%s\n};"
                              % (symbol, ",\n".join("    %s" % slot for slot, _ in sets)))
            self.lines.append("static PyObject* const %s_set_items[] = {\n%s\n};"
                              % (symbol, ",\n".join("    %s" % items for _, items in sets)))
        self.lines.append("static struct kestrune_deep_frozen_module %s = {\n"
                          "    .code = %s_code,\n    .code_count = %d,\n"
                          "    .set_slots = %s,\n    .set_items = %s,\n    .set_count = %d,\n};"
                          % (symbol, symbol, len(codes),
                             "%s_set_slots" % symbol if sets else "NULL",
                             "%s_set_items" % symbol if sets else "NULL", len(sets)))

    def new_name(self, prefix):
        self.count += 1
        return "%s%d" % (prefix, self.count)

    def ref(self, value, codes, names=False):
        """The C expression (a PyObject*) of the static object for `value`,
        written first if it is not yet; code objects met are appended to
        `codes`, nested ones before the code that holds them.

        `names`: `value` is a code object's name or a tuple of its names,
        which are interned when the module is made ready. A name that the
        compiler would leave uninterned as a constant (a dotted module name,
        as `import os.path` has) is then not shared with an equal constant,
        nor is a tuple of names with an equal tuple of constants."""
        kind = type(value)
        if value is None:
            return "Py_None"
        if value is True or value is False:
            return "Py_True" if value else "Py_False"
        if value is Ellipsis:
            return "Py_Ellipsis"
        if kind is int and -5 <= value <= 256:
            return "KESTRUNE_SMALL_INT(%d)" % value
        if kind is str:
            if value in self.shared_strings:
                return self.shared_strings[value]
            if len(value) == 1 and ord(value) < 256:
                return ("KESTRUNE_ASCII_CHARACTER(%d)" if ord(value) < 128
                        else "KESTRUNE_LATIN1_CHARACTER(%d)") % ord(value)
        if kind is bytes and len(value) <= 1:
            return "KESTRUNE_BYTE(%d)" % value[0] if value else "KESTRUNE_EMPTY_BYTES"
        if kind is tuple and not value:
            return "KESTRUNE_EMPTY_TUPLE"
        key = constant_key(value) if kind is not types.CodeType else None
        if names and (kind is tuple or not name_characters_only(value)):
            key = ("names", key)
        if key is not None and key in self.names:
            return self.names[key]
        if kind is types.CodeType:
            name = self.write_code(value, codes)
            self.codes_written.append(value)
            codes.append(name)
            return name
        writers = {str: self.write_str, bytes: self.write_bytes, int: self.write_int,
                   float: self.write_float, complex: self.write_complex, tuple: self.write_tuple,
                   frozenset: self.write_frozenset}
        name = self.write_tuple(value, codes, names) if kind is tuple else writers[kind](value, codes)
        self.names[key] = name
        return name

    def check_size(self, value, size):
        if size > LARGEST_OBJECT:
            raise CannotFreeze("a %s of %d bytes" % (type(value).__name__, size))

    def write_str(self, value, codes):
        name = self.new_name("s")
        if value.isascii():
            self.check_size(value, len(value))
            self.lines.append("KESTRUNE_ASCII(%s, %d, %s);" % (name, len(value), c_text(value.encode("ascii"))))
            return "(PyObject*)&" + name
        largest = max(map(ord, value))
        kind, character = ((1, "Py_UCS1") if largest < 0x100 else
                           (2, "Py_UCS2") if largest < 0x10000 else (4, "Py_UCS4"))
        self.check_size(value, kind * len(value))
        characters = ", ".join("0x%x" % ord(c) for c in value)
        self.lines.append("KESTRUNE_COMPACT(%s, %d, %s, %d, %s);" % (name, kind, character, len(value), characters))
        return "(PyObject*)&" + name

    def write_bytes(self, value, codes):
        self.check_size(value, len(value))
        name = self.new_name("b")
        self.lines.append("KESTRUNE_BYTES(%s, %d, %s);" % (name, len(value), c_text(value)))
        return "(PyObject*)&" + name

    def write_int(self, value, codes):
        magnitude, digits = abs(value), []
        while magnitude:
            digits.append(magnitude & ((1 << DIGIT_BITS) - 1))
            magnitude >>= DIGIT_BITS
        self.check_size(value, len(digits) * 4)
        name = self.new_name("i")
        self.lines.append("KESTRUNE_LONG(%s, %d, %s, %s);" % (
            name, len(digits), "KESTRUNE_SIGN_NEGATIVE" if value < 0 else "KESTRUNE_SIGN_POSITIVE",
            ", ".join("%du" % d for d in digits)))
        return "(PyObject*)&" + name

    def write_float(self, value, codes):
        name = self.new_name("f")
        self.lines.append("KESTRUNE_FLOAT(%s, %s);" % (name, double_bits(value)))
        return "(PyObject*)&" + name

    def write_complex(self, value, codes):
        name = self.new_name("j")
        self.lines.append("KESTRUNE_COMPLEX(%s, %s, %s);"
                          % (name, double_bits(value.real), double_bits(value.imag)))
        return "(PyObject*)&" + name

    def write_tuple(self, value, codes, names=False):
        self.check_size(value, 8 * len(value))
        items = [self.ref(item, codes, names) for item in value]
        name = self.new_name("t")
        self.lines.append("KESTRUNE_TUPLE(%s, %d,\n    %s);" % (name, len(items), ",\n    ".join(items)))
        return "KESTRUNE_TUPLE_OBJECT(%s)" % name

    def write_frozenset(self, value, codes):
        # The tuple of its items stands in its slot until the set is made.
        if any(holds_frozenset(item) for item in value):
            raise CannotFreeze("a frozenset that holds a frozenset")
        return self.ref(set_items(value), codes)

    def find_sets(self, code, sets):
        """Appends to `sets` (slot, items) for every frozenset constant of
        `code` and of the code objects it holds: the tuple item that holds
        it and the static tuple of its items."""
        def visit(value):
            if type(value) is types.CodeType:
                visit(value.co_consts)
            elif type(value) is tuple:
                for index, item in enumerate(value):
                    if type(item) is frozenset:
                        slot = "KESTRUNE_TUPLE_SLOT(%s, %d)" % (tuple_name(self.ref(value, [])), index)
                        sets.append((slot, self.ref(set_items(item), [])))
                    else:
                        visit(item)
        visit(code)

    def write_code(self, code, codes):
        self.check_size(code, len(code._co_code_adaptive))
        names, kinds = local_kinds(code)
        if len(code._co_code_adaptive) != len(code.co_code):
            raise CannotFreeze("quickened code of %s is not the size of its bytecode" % code.co_qualname)
        fields = {
            "co_consts": self.ref(code.co_consts, codes),
            "co_names": self.ref(code.co_names, codes, names=True),
            "co_localsplusnames": self.ref(names, codes, names=True),
            "co_localspluskinds": self.ref(kinds, codes),
            "co_filename": self.ref(code.co_filename, codes),
            "co_name": self.ref(code.co_name, codes, names=True),
            # The same object as the name when it is the name.
            "co_qualname": self.ref(code.co_qualname, codes, names=code.co_qualname == code.co_name),
            "co_linetable": self.ref(code.co_linetable, codes),
            "co_exceptiontable": self.ref(code.co_exceptiontable, codes),
        }
        nlocals = sum(1 for k in kinds if k & LOCAL)
        cells = sum(1 for k in kinds if k & CELL)
        frees = sum(1 for k in kinds if k & FREE and not k & (LOCAL | CELL))
        if nlocals != code.co_nlocals:
            raise CannotFreeze("co_nlocals of %s is not what its local kinds give" % code.co_qualname)
        units = code.co_code[::2]
        first_traceable = units.index(RESUME) if RESUME in units else len(units)
        name = self.new_name("c")
        self.lines.append(
            "/* %s */\nstatic struct _PyCode_DEF(%d) %s = {\n"
            "    .ob_base = _PyVarObject_HEAD_INIT(&PyCode_Type, %d)\n"
            "    .co_consts = %s,\n    .co_names = %s,\n    .co_exceptiontable = %s,\n"
            "    .co_flags = %d,\n    .co_argcount = %d,\n    .co_posonlyargcount = %d,\n"
            "    .co_kwonlyargcount = %d,\n    .co_stacksize = %d,\n    .co_firstlineno = %d,\n"
            "    .co_nlocalsplus = %d,\n    .co_framesize = %d + FRAME_SPECIALS_SIZE,\n"
            "    .co_nlocals = %d,\n    .co_ncellvars = %d,\n    .co_nfreevars = %d,\n"
            "    .co_localsplusnames = %s,\n    .co_localspluskinds = %s,\n"
            "    .co_filename = %s,\n    .co_name = %s,\n    .co_qualname = %s,\n"
            "    .co_linetable = %s,\n    ._co_firsttraceable = %d,\n"
            "    .co_code_adaptive = %s,\n};"
            % (code.co_qualname.replace("*/", "* /"), len(code.co_code), name, len(code.co_code) // 2,
               fields["co_consts"], fields["co_names"], fields["co_exceptiontable"],
               code.co_flags, code.co_argcount, code.co_posonlyargcount,
               code.co_kwonlyargcount, code.co_stacksize, code.co_firstlineno,
               len(names), len(names) + code.co_stacksize,
               nlocals, cells, frees,
               fields["co_localsplusnames"], fields["co_localspluskinds"],
               fields["co_filename"], fields["co_name"], fields["co_qualname"],
               fields["co_linetable"], first_traceable, c_text(code._co_code_adaptive)))
        return "(PyObject*)&" + name

    def text(self):
        return "\n".join(self.lines) + "\n"


def set_items(value):
    """A frozenset's items in an order that does not depend on this
    process's string hashes, so that the output is the same at every build
    (marshal sorts them too); the order a set iterates in depends on the
    hashes of the process that makes it anyway."""
    return tuple(sorted(value, key=lambda item: (type(item).__name__, repr(item))))


def name_characters_only(text):
    """Whether `text` is made of ASCII letters, digits and underscores only:
    the string constants that the compiler interns."""
    return text.isascii() and all(c.isalnum() or c == "_" for c in text)


def holds_frozenset(value):
    if type(value) is frozenset:
        return True
    return type(value) is tuple and any(holds_frozenset(item) for item in value)


def tuple_name(expression):
    """The C name of a static tuple from its C expression."""
    return re.fullmatch(r"KESTRUNE_TUPLE_OBJECT\((\w+)\)", expression).group(1)
