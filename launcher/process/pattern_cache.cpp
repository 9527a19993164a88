// Seeding re's pattern cache with the patterns that a run compiles.
//
// Importing json compiles six regular expressions, and re's parser and code
// generator are pure Python: about 3% of a run. The build runs re's own
// compiler over the patterns that a run compiles and keeps what it passed to
// _sre.compile, checked to make the same pattern as re.compile
// (launcher/freeze/freeze_modules.py); a run hands that to _sre.compile and
// puts the results in re's cache, where re.compile finds them.
//
// What a program sees of the cache is unchanged. re.compile looks a pattern
// up in re._cache2 first, where the seeds are not, then takes it out of
// re._cache, puts it back at the end and adds it to re._cache2, as when it
// compiles it: once json has compiled its patterns, both caches hold what
// they would have held, in the same order. The seeds are put in re._cache in
// the order in which the build's run compiled them.
//
// re._cache and _sre.compile are re's own internals, so every step may fail
// on another CPython: the seeds are then left out, each pattern is compiled as
// usual, and the run goes on. The table carries the _sre.MAGIC and
// _sre.CODESIZE it was made for, and a run with another _sre seeds nothing.
#include "process/pattern_cache.hpp"

#include <Python.h>
#include <marshal.h>

#include "owned.hpp"

#if defined(KESTRUNE_FROZEN_MODULES)
#include "freeze/seeded_patterns.h"
#endif

namespace launcher {

namespace {

using runtime::Owned;
using runtime::steal;

// True when `module`.`name` equals `expected`; false, with no exception, when
// it does not or cannot be read.
bool attribute_equals(PyObject* module, const char* name, PyObject* expected)
{
    auto value = steal(PyObject_GetAttrString(module, name));
    if (!value) {
        PyErr_Clear();
        return false;
    }
    const int equal = PyObject_RichCompareBool(value.get(), expected, Py_EQ);
    if (equal < 0) {
        PyErr_Clear();
    }
    return equal == 1;
}

// Puts re._cache[(type(pattern), pattern, flags)] = _sre.compile(*arguments)
// for one entry (flags, arguments) of the table. 0, or -1 with an exception.
int seed_one(PyObject* compile, PyObject* cache, PyObject* entry)
{
    if (!PyTuple_CheckExact(entry) || PyTuple_GET_SIZE(entry) != 2 ||
        !PyTuple_CheckExact(PyTuple_GET_ITEM(entry, 1)) || PyTuple_GET_SIZE(PyTuple_GET_ITEM(entry, 1)) < 1) {
        PyErr_SetString(PyExc_ValueError, "a seeded pattern is not (flags, arguments)");
        return -1;
    }
    PyObject* flags = PyTuple_GET_ITEM(entry, 0);
    PyObject* arguments = PyTuple_GET_ITEM(entry, 1);
    PyObject* pattern = PyTuple_GET_ITEM(arguments, 0);
    auto compiled = steal(PyObject_Call(compile, arguments, nullptr));
    if (!compiled) {
        return -1;
    }
    auto key = steal(PyTuple_Pack(3, reinterpret_cast<PyObject*>(Py_TYPE(pattern)), pattern, flags));
    if (!key) {
        return -1;
    }
    return PyDict_SetItem(cache, key.get(), compiled.get());
}

// 0 when the cache holds the seeds or none was due; -1 with an exception when
// a step failed (the seeds put in by then are correct ones).
int seed(const unsigned char* data, int size)
{
    auto table = steal(PyMarshal_ReadObjectFromString(reinterpret_cast<const char*>(data), size));
    if (!table) {
        return -1;
    }
    if (!PyTuple_CheckExact(table.get()) || PyTuple_GET_SIZE(table.get()) != 3 ||
        !PyTuple_CheckExact(PyTuple_GET_ITEM(table.get(), 2))) {
        PyErr_SetString(PyExc_ValueError, "the seeded patterns are not (magic, codesize, entries)");
        return -1;
    }
    PyObject* entries = PyTuple_GET_ITEM(table.get(), 2);
    if (PyTuple_GET_SIZE(entries) == 0) {
        return 0;
    }
    auto sre = steal(PyImport_ImportModule("_sre"));
    if (!sre) {
        return -1;
    }
    if (!attribute_equals(sre.get(), "MAGIC", PyTuple_GET_ITEM(table.get(), 0)) ||
        !attribute_equals(sre.get(), "CODESIZE", PyTuple_GET_ITEM(table.get(), 1))) {
        return 0;
    }
    auto compile = steal(PyObject_GetAttrString(sre.get(), "compile"));
    if (!compile) {
        return -1;
    }
    auto re = steal(PyImport_ImportModule("re"));
    if (!re) {
        return -1;
    }
    auto cache = steal(PyObject_GetAttrString(re.get(), "_cache"));
    if (!cache) {
        return -1;
    }
    if (!PyDict_CheckExact(cache.get())) {
        return 0;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(entries); i++) {
        if (seed_one(compile.get(), cache.get(), PyTuple_GET_ITEM(entries, i)) < 0) {
            return -1;
        }
    }
    return 0;
}

} // namespace

void seed_pattern_cache_from(const unsigned char* table, int size)
{
    if (seed(table, size) < 0) {
        PyErr_Clear();
    }
}

void seed_pattern_cache()
{
#if defined(KESTRUNE_FROZEN_MODULES)
    seed_pattern_cache_from(kestrune_seeded_patterns, kestrune_seeded_patterns_size);
#endif
    // A launcher that loads libpython3.12.so freezes nothing and has no
    // table.
}

} // namespace launcher
