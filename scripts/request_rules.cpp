#include "request_rules.hpp"

#include "module_state.hpp"
#include "owned.hpp"

namespace kestrune {

using runtime::Owned;
using runtime::steal;

namespace {

// Whether code points [start, start + len(text)) of `s` equal the ASCII-only
// str `text`.
bool matches_at(PyObject* s, Py_ssize_t start, PyObject* text)
{
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    if (start < 0 || start + n > PyUnicode_GET_LENGTH(s)) {
        return false;
    }
    const int kind = PyUnicode_KIND(s);
    const void* data = PyUnicode_DATA(s);
    const int text_kind = PyUnicode_KIND(text);
    const void* text_data = PyUnicode_DATA(text);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyUnicode_READ(kind, data, start + i) != PyUnicode_READ(text_kind, text_data, i)) {
            return false;
        }
    }
    return true;
}

// The length of `host` without one trailing ":" and one or more ASCII digits.
Py_ssize_t length_without_port(PyObject* host)
{
    const Py_ssize_t len = PyUnicode_GET_LENGTH(host);
    const int kind = PyUnicode_KIND(host);
    const void* data = PyUnicode_DATA(host);
    Py_ssize_t i = len;
    while (i > 0) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i - 1);
        if (c < '0' || c > '9') {
            break;
        }
        --i;
    }
    if (i < len && i > 0 && PyUnicode_READ(kind, data, i - 1) == ':') {
        return i - 1;
    }
    return len;
}

} // namespace

bool host_is_github(PyObject* host, PyObject* github)
{
    if (!PyUnicode_Check(host)) {
        return false;
    }
    const Py_ssize_t len = length_without_port(host);
    const Py_ssize_t n = PyUnicode_GET_LENGTH(github);
    if (len == n) {
        return matches_at(host, 0, github);
    }
    // A subdomain: at least one character, then ".", then the host name.
    return len > n + 1 && PyUnicode_READ_CHAR(host, len - n - 1) == '.' &&
           matches_at(host, len - n, github);
}

int protocol_allows_token(PyObject* data)
{
    auto key = steal(PyUnicode_InternFromString("protocol"));
    if (!key) {
        return -1;
    }
    Owned<> protocol;
    if (PyDict_Check(data)) {
        protocol = runtime::borrow(PyDict_GetItemWithError(data, key.get()));
        if (!protocol && PyErr_Occurred()) {
            return -1;
        }
    } else {
        PyObject* args[] = {data, key.get(), Py_None};
        protocol = steal(PyObject_VectorcallMethod(module_state.constants[n_get], args, 3, nullptr));
        if (!protocol) {
            return -1;
        }
    }
    if (!protocol || protocol.get() == Py_None) {
        return 1;
    }
    return PyUnicode_Check(protocol.get()) &&
           PyUnicode_CompareWithASCIIString(protocol.get(), "https") == 0;
}

bool token_breaks_answer(PyObject* token)
{
    if (!PyUnicode_Check(token)) {
        return false;
    }
    const Py_ssize_t len = PyUnicode_GET_LENGTH(token);
    const int kind = PyUnicode_KIND(token);
    const void* data = PyUnicode_DATA(token);
    for (Py_ssize_t i = 0; i < len; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c == '\r' || c == '\n' || c == '\0') {
            return true;
        }
    }
    return false;
}

} // namespace kestrune
