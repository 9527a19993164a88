#include "request_rules.hpp"

#include <optional>
#include <string_view>

#include "host_rules.hpp"
#include "module_state.hpp"
#include "owned.hpp"
#include "token_rules.hpp"

namespace kestrune {

using runtime::Owned;
using runtime::steal;

namespace {

// The characters of `s` when it is a str (or a subclass of it) made only of
// ASCII characters; nothing otherwise. The characters are read directly, so
// no method of a str subclass runs.
std::optional<std::string_view> ascii_text(PyObject* s)
{
    if (!PyUnicode_Check(s) || !PyUnicode_IS_ASCII(s)) {
        return std::nullopt;
    }
    return std::string_view(static_cast<const char*>(PyUnicode_DATA(s)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)));
}

} // namespace

bool host_is_github(PyObject* host, PyObject* github)
{
    const auto host_text = ascii_text(host);
    const auto github_text = ascii_text(github);
    return host_text && github_text && host_is_github(*host_text, *github_text);
}

int protocol_allows_token(PyObject* data)
{
    PyObject* key = module_state.protocol_key;
    Owned<> protocol;
    if (PyDict_Check(data)) {
        protocol = runtime::borrow(PyDict_GetItemWithError(data, key));
        if (!protocol && PyErr_Occurred()) {
            return -1;
        }
    } else {
        PyObject* args[] = {data, key, Py_None};
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

bool token_fits_answer(PyObject* token)
{
    const auto text = ascii_text(token);
    return text && token_is_acceptable(*text);
}

} // namespace kestrune
