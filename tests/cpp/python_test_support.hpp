// Small helpers for tests that run against the embedded interpreter.
#pragma once

#include <Python.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "owned.hpp"

namespace test_support {

using runtime::Owned;

// Runs Python source in a fresh namespace (with builtins and the given names
// bound); returns that namespace, or an empty handle with the exception
// printed and cleared.
inline Owned<> run_python(const char* source,
                          std::initializer_list<std::pair<const char*, PyObject*>> names = {})
{
    auto globals = Owned<>::steal(PyDict_New());
    if (!globals || PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins()) < 0) {
        return {};
    }
    for (const auto& [name, value] : names) {
        if (PyDict_SetItemString(globals.get(), name, value) < 0) {
            return {};
        }
    }
    auto result = Owned<>::steal(PyRun_String(source, Py_file_input, globals.get(), globals.get()));
    if (!result) {
        PyErr_Print();
        return {};
    }
    return globals;
}

// The current exception's type name and str(value), then clears it.
// Empty strings when no exception is set.
struct Raised {
    std::string type;
    std::string message;
};

inline Raised take_exception()
{
    Raised r;
    PyObject* exc = PyErr_GetRaisedException();
    if (!exc) {
        return r;
    }
    r.type = Py_TYPE(exc)->tp_name;
    if (PyObject* s = PyObject_Str(exc)) {
        if (const char* u = PyUnicode_AsUTF8(s)) {
            r.message = u;
        }
        Py_DECREF(s);
    }
    PyErr_Clear();
    Py_DECREF(exc);
    return r;
}

inline std::string utf8(PyObject* s)
{
    const char* u = PyUnicode_AsUTF8(s);
    return u ? std::string(u) : std::string();
}

} // namespace test_support
