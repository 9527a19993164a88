// A fixture that fills runtime::state as a module's exec step would: a fresh
// dictionary as the module globals, the builtins module and the empty tuple
// and bytes. It empties the code-object cache and releases everything after
// each test, so that cases also run together in one process.
#pragma once

#include <Python.h>
#include <gtest/gtest.h>

#include "owned.hpp"
#include "runtime_state.hpp"

namespace test_support {

using runtime::Owned;

class RuntimeStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto& s = runtime::state;
        s.module_dict = PyDict_New();
        s.builtins_module = Py_XNewRef(PyImport_AddModule("builtins"));
        s.empty_tuple = PyTuple_New(0);
        s.empty_bytes = PyBytes_FromStringAndSize(nullptr, 0);
        ASSERT_TRUE(s.module_dict && s.builtins_module && s.empty_tuple && s.empty_bytes);
        ASSERT_EQ(PyDict_SetItemString(s.module_dict, "__builtins__", s.builtins_module), 0);
    }

    void TearDown() override
    {
        EXPECT_EQ(PyErr_Occurred(), nullptr) << "a test left an exception set";
        PyErr_Clear();
        clear_code_cache();
        auto& s = runtime::state;
        Py_CLEAR(s.module_dict);
        Py_CLEAR(s.builtins_module);
        Py_CLEAR(s.empty_tuple);
        Py_CLEAR(s.empty_bytes);
    }

    static void clear_code_cache()
    {
        auto& cache = runtime::state.code_cache;
        for (int i = 0; i < cache.count; ++i) {
            Py_DECREF(cache.entries[i].code);
        }
        PyMem_Free(cache.entries);
        cache = {};
    }

    // Runs statements with the module globals as their namespace.
    static bool exec(const char* source)
    {
        PyObject* g = runtime::state.module_dict;
        auto result = Owned<>::steal(PyRun_String(source, Py_file_input, g, g));
        if (!result) {
            PyErr_Print();
        }
        return static_cast<bool>(result);
    }

    // Evaluates an expression in the module globals; empty on error, with the
    // exception left set.
    static Owned<> eval(const char* expression)
    {
        PyObject* g = runtime::state.module_dict;
        return Owned<>::steal(PyRun_String(expression, Py_eval_input, g, g));
    }

    // A module global, borrowed.
    static PyObject* global(const char* name)
    {
        return PyDict_GetItemString(runtime::state.module_dict, name);
    }

    static Owned<> str(const char* text) { return Owned<>::steal(PyUnicode_FromString(text)); }
};

} // namespace test_support
