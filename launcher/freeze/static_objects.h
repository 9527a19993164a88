/* The layouts of the static objects that launcher/freeze/deep_freeze.py
   writes: strings, bytes, integers, floats, complex numbers and tuples as
   CPython 3.12 lays them out, immortal and in the launcher's data. Code
   objects are written with CPython's own _PyCode_DEF. C, as the generated
   file that includes it is.

   Each layout is the interpreter's record followed by its variable part, in
   a record of our own; the promises that make it the interpreter's record
   are checked below, so that a CPython whose layouts differ fails to build
   this file instead of running with objects it would misread. */
#pragma once

/* The layouts and the static-object initialisers are internal to CPython. */
#define Py_BUILD_CORE 1
#include <Python.h>
#include <stddef.h>
#include <stdint.h>

#include "internal/pycore_frame.h"          /* FRAME_SPECIALS_SIZE */
#include "internal/pycore_gc.h"             /* PyGC_Head */
#include "internal/pycore_global_objects.h" /* _Py_SINGLETON */
#include "internal/pycore_long.h"           /* _PyLong_SMALL_INTS, NON_SIZE_BITS */
#include "internal/pycore_object.h"         /* _PyObject_HEAD_INIT: immortal */
#include "internal/pycore_runtime.h"        /* _PyRuntime, _Py_ID, _Py_STR */

#include "freeze/deep_frozen_module.h"

/* Each record below is the interpreter's object followed by its variable
   part of SIZE items, as CPython's _PyCode_DEF is for code objects: a
   static object is a record of its own size, and the layout promises are
   checked on the record of one item. */

/* A string of ASCII characters: PyASCIIObject, then its characters and a
   NUL, which is where PyUnicode_DATA finds them. The hash is computed on
   first use (the launcher's data is writable); the string is interned, if
   the compiler would have interned it, when its module is first imported. */
#define KESTRUNE_ASCII_RECORD(SIZE) \
    struct {                        \
        PyASCIIObject _ascii;       \
        uint8_t _data[(SIZE)];      \
    }
#define KESTRUNE_ASCII(NAME, LENGTH, TEXT)                                               \
    static KESTRUNE_ASCII_RECORD((LENGTH) + 1) NAME = {                                  \
        ._ascii = {.ob_base = _PyObject_HEAD_INIT(&PyUnicode_Type).length = (LENGTH),     \
                   .hash = -1,                                                           \
                   .state = {.kind = PyUnicode_1BYTE_KIND, .compact = 1, .ascii = 1}},   \
        ._data = TEXT}

/* Any other string: PyCompactUnicodeObject with no UTF-8 form (made on
   demand, as for a string the compiler makes), then its characters of
   KIND bytes each, ended by a zero character. */
#define KESTRUNE_COMPACT_RECORD(CHARACTER, SIZE) \
    struct {                                     \
        PyCompactUnicodeObject _compact;         \
        CHARACTER _data[(SIZE)];                 \
    }
#define KESTRUNE_COMPACT(NAME, KIND, CHARACTER, LENGTH, ...)                                  \
    static KESTRUNE_COMPACT_RECORD(CHARACTER, (LENGTH) + 1) NAME = {                          \
        ._compact = {._base = {.ob_base = _PyObject_HEAD_INIT(&PyUnicode_Type).length = (LENGTH), \
                               .hash = -1,                                                    \
                               .state = {.kind = (KIND), .compact = 1, .ascii = 0}}},         \
        ._data = {__VA_ARGS__}}

/* bytes: the header, the cached hash (-1: not computed) and the bytes with
   the NUL that PyBytesObject always has after them. */
#define KESTRUNE_BYTES_RECORD(SIZE) \
    struct {                        \
        PyObject_VAR_HEAD           \
        Py_hash_t ob_shash;         \
        char ob_sval[(SIZE)];       \
    }
#define KESTRUNE_BYTES(NAME, SIZE, DATA)                                                     \
    static KESTRUNE_BYTES_RECORD((SIZE) + 1) NAME = {                                        \
        .ob_base = _PyVarObject_HEAD_INIT(&PyBytes_Type, (SIZE)).ob_shash = -1, .ob_sval = DATA}

/* An int beyond the small ints that the interpreter shares: its tag (digit
   count and sign) and its digits, least significant first. */
#define KESTRUNE_LONG_RECORD(SIZE) \
    struct {                       \
        PyObject ob_base;          \
        uintptr_t lv_tag;          \
        digit ob_digit[(SIZE)];    \
    }
#define KESTRUNE_LONG(NAME, DIGITS, SIGN, ...)                                        \
    static KESTRUNE_LONG_RECORD(DIGITS) NAME = {                                      \
        .ob_base = _PyObject_HEAD_INIT(&PyLong_Type)                                  \
        .lv_tag = ((uintptr_t)(DIGITS) << NON_SIZE_BITS) | (SIGN), .ob_digit = {__VA_ARGS__}}
#define KESTRUNE_SIGN_POSITIVE 0
#define KESTRUNE_SIGN_NEGATIVE SIGN_NEGATIVE

/* A float and a complex number, written as the bits of their doubles so
   that every value (negative zero, infinities, NaN payloads) is exact. */
#define KESTRUNE_FLOAT_RECORD(SIZE) \
    struct {                        \
        PyObject ob_base;           \
        uint64_t bits[(SIZE)];      \
    }
#define KESTRUNE_FLOAT(NAME, BITS) \
    static KESTRUNE_FLOAT_RECORD(1) NAME = {.ob_base = _PyObject_HEAD_INIT(&PyFloat_Type).bits = {(BITS)}}
#define KESTRUNE_COMPLEX(NAME, REAL_BITS, IMAG_BITS)                     \
    static KESTRUNE_FLOAT_RECORD(2) NAME = {                             \
        .ob_base = _PyObject_HEAD_INIT(&PyComplex_Type).bits = {(REAL_BITS), (IMAG_BITS)}}

/* A tuple, preceded by the collector's header that every tuple has, zeroed:
   untracked, as a static object must be. */
#define KESTRUNE_TUPLE_RECORD(SIZE)      \
    struct {                             \
        PyGC_Head _gc_head;              \
        struct {                         \
            PyObject_VAR_HEAD            \
            PyObject* ob_item[(SIZE)];   \
        } _object;                       \
    }
#define KESTRUNE_TUPLE(NAME, SIZE, ...)                                                        \
    static KESTRUNE_TUPLE_RECORD(SIZE) NAME = {                                                \
        ._object = {.ob_base = _PyVarObject_HEAD_INIT(&PyTuple_Type, (SIZE)).ob_item = {__VA_ARGS__}}}
#define KESTRUNE_TUPLE_OBJECT(NAME) ((PyObject*)&(NAME)._object)
#define KESTRUNE_TUPLE_SLOT(NAME, INDEX) (&(NAME)._object.ob_item[(INDEX)])

/* The interpreter's shared objects that the compiler's output refers to. */
#define KESTRUNE_SMALL_INT(VALUE) ((PyObject*)&_PyLong_SMALL_INTS[_PY_NSMALLNEGINTS + (VALUE)])
#define KESTRUNE_ASCII_CHARACTER(C) ((PyObject*)&_Py_SINGLETON(strings).ascii[(C)])
#define KESTRUNE_LATIN1_CHARACTER(C) ((PyObject*)&_Py_SINGLETON(strings).latin1[(C) - 128])
#define KESTRUNE_BYTE(C) ((PyObject*)&_Py_SINGLETON(bytes_characters[(C)]))
#define KESTRUNE_EMPTY_BYTES ((PyObject*)&_Py_SINGLETON(bytes_empty))
#define KESTRUNE_EMPTY_TUPLE ((PyObject*)&_Py_SINGLETON(tuple_empty))

/* The promises that make our records the interpreter's. */
_Static_assert(offsetof(KESTRUNE_ASCII_RECORD(1), _data) == sizeof(PyASCIIObject),
               "a compact ASCII string's characters follow its PyASCIIObject");
_Static_assert(offsetof(KESTRUNE_COMPACT_RECORD(Py_UCS4, 1), _data) == sizeof(PyCompactUnicodeObject),
               "a compact string's characters follow its PyCompactUnicodeObject");
_Static_assert(offsetof(KESTRUNE_BYTES_RECORD(1), ob_sval) == offsetof(PyBytesObject, ob_sval)
                   && sizeof(KESTRUNE_BYTES_RECORD(1)) == sizeof(PyBytesObject),
               "bytes are a header, the cached hash and the bytes");
_Static_assert(offsetof(KESTRUNE_LONG_RECORD(1), lv_tag) == offsetof(PyLongObject, long_value.lv_tag)
                   && offsetof(KESTRUNE_LONG_RECORD(1), ob_digit) == offsetof(PyLongObject, long_value.ob_digit),
               "an int is a header, its tag and its digits");
_Static_assert(SIGN_ZERO == 1 && SIGN_NEGATIVE == 2 && NON_SIZE_BITS == 3,
               "an int's tag holds its sign in the bits deep_freeze.py writes");
_Static_assert(offsetof(KESTRUNE_FLOAT_RECORD(1), bits) == offsetof(PyFloatObject, ob_fval)
                   && offsetof(KESTRUNE_FLOAT_RECORD(2), bits) == offsetof(PyComplexObject, cval)
                   && sizeof(double) == sizeof(uint64_t) && sizeof(Py_complex) == 2 * sizeof(uint64_t),
               "a float is a header and one double, a complex number a header and two");
_Static_assert(offsetof(KESTRUNE_TUPLE_RECORD(1), _object) == sizeof(PyGC_Head)
                   && offsetof(KESTRUNE_TUPLE_RECORD(1), _object.ob_item) - sizeof(PyGC_Head)
                          == offsetof(PyTupleObject, ob_item),
               "a tuple's collector header comes right before it");
