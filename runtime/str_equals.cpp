// Equality with a fast path for exact str operands.
#include "str_equals.hpp"

#include <cstring>

#include "owned.hpp"
#include "truth_value.hpp"

namespace runtime {

namespace {

// Exact str objects compare by content alone; no subclass __eq__ can take part.
int exact_str_equals(PyObject* a, PyObject* b)
{
    const Py_ssize_t length = PyUnicode_GET_LENGTH(a);
    if (length != PyUnicode_GET_LENGTH(b)) {
        return 0;
    }
    const Py_hash_t hash_a = reinterpret_cast<PyASCIIObject*>(a)->hash;
    const Py_hash_t hash_b = reinterpret_cast<PyASCIIObject*>(b)->hash;
    if (hash_a != -1 && hash_b != -1 && hash_a != hash_b) {
        return 0;
    }
    // A str is stored in the narrowest width that holds its widest
    // character, so equal strings always have equal widths.
    const int kind = PyUnicode_KIND(a);
    if (kind != static_cast<int>(PyUnicode_KIND(b))) {
        return 0;
    }
    const void* data_a = PyUnicode_DATA(a);
    const void* data_b = PyUnicode_DATA(b);
    if (length == 0) {
        return 1;
    }
    if (PyUnicode_READ(kind, data_a, 0) != PyUnicode_READ(kind, data_b, 0)) {
        return 0;
    }
    if (length == 1) {
        return 1;
    }
    return std::memcmp(data_a, data_b, static_cast<std::size_t>(length) * kind) == 0;
}

} // namespace

int str_equals(PyObject* a, PyObject* b)
{
    if (a == b) {
        return 1;
    }
    const bool a_str = PyUnicode_CheckExact(a);
    const bool b_str = PyUnicode_CheckExact(b);
    if (a_str && b_str) {
        return exact_str_equals(a, b);
    }
    // str.__eq__ answers NotImplemented for None and None's own comparison is
    // identity, so the answer is known without asking either.
    if ((a == Py_None && b_str) || (b == Py_None && a_str)) {
        return 0;
    }
    auto result = steal(PyObject_RichCompare(a, b, Py_EQ));
    if (!result) {
        return -1;
    }
    return truth_value(result.get());
}

} // namespace runtime
