// Support for the tests of the shared function type: a fixture that fills
// runtime::state as an exec step would, test method definitions of every
// calling convention whose entries record what they received, and helpers
// to run Python code against function objects.
#pragma once

#include <Python.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>

#include "function_type.hpp"
#include "owned.hpp"
#include "python_test_support.hpp"
#include "runtime_state.hpp"
#include "shared_type.hpp"

namespace function_test {

using runtime::as_native_function;
using runtime::NativeFunction;
using runtime::Owned;

// What the last entry call received. Borrowed pointers: valid only during the
// test statement that made the call.
struct Received {
    int calls = 0;
    const char* entry = nullptr;
    PyObject* self = nullptr;
    PyObject* arg = nullptr;             // METH_O argument; NULL for METH_NOARGS
    PyObject* args_tuple = nullptr;      // METH_VARARGS tuple
    PyObject* kwargs = nullptr;          // METH_KEYWORDS dictionary as received
    PyObject* const* args = nullptr;     // fastcall array
    std::size_t nargsf = 0;              // fastcall count as received
    PyObject* kwnames = nullptr;         // fastcall keyword names
    PyTypeObject* cls = nullptr;         // METH_METHOD defining class
    Py_ssize_t nkw = 0;
    std::string kw0;                     // first keyword name and value (str)
    std::string kwvalue0;
};

inline Received received;

inline void record_kw(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    received.nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (received.nkw > 0) {
        received.kw0 = test_support::utf8(PyTuple_GET_ITEM(kwnames, 0));
        Owned<> s = Owned<>::steal(PyObject_Str(args[nargs]));
        received.kwvalue0 = s ? test_support::utf8(s.get()) : std::string();
    }
}

inline PyObject* entry_noargs(PyObject* self, PyObject* arg)
{
    received = Received{received.calls + 1, "noargs", self, arg};
    return Py_NewRef(Py_None);
}

inline PyObject* entry_o(PyObject* self, PyObject* arg)
{
    received = Received{received.calls + 1, "o", self, arg};
    return Py_NewRef(arg);
}

inline PyObject* entry_varargs_keywords(PyObject* self, PyObject* args, PyObject* kwargs)
{
    received = Received{received.calls + 1, "varargs_keywords", self};
    received.args_tuple = args;
    received.kwargs = kwargs;
    return Py_NewRef(args);
}

inline PyObject* entry_fastcall_keywords(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames)
{
    received = Received{received.calls + 1, "fastcall_keywords", self};
    received.args = args;
    received.nargsf = static_cast<std::size_t>(nargs);
    received.kwnames = kwnames;
    record_kw(args, nargs, kwnames);
    return PyLong_FromSsize_t(nargs);
}

inline PyObject* entry_method(PyObject* self, PyTypeObject* cls, PyObject* const* args,
                              std::size_t nargsf, PyObject* kwnames)
{
    received = Received{received.calls + 1, "method_fastcall_keywords", self};
    received.args = args;
    received.nargsf = nargsf;
    received.kwnames = kwnames;
    received.cls = cls;
    record_kw(args, PyVectorcall_NARGS(nargsf), kwnames);
    return PyLong_FromSsize_t(PyVectorcall_NARGS(nargsf));
}

template <class F>
inline PyCFunction as_entry(F f)
{
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

inline PyMethodDef def_noargs{"t_noargs", as_entry(entry_noargs), METH_NOARGS, "t_noargs()"};
inline PyMethodDef def_o{"t_o", as_entry(entry_o), METH_O, nullptr};
inline PyMethodDef def_varargs_keywords{"t_varargs_keywords", as_entry(entry_varargs_keywords),
                                        METH_VARARGS | METH_KEYWORDS, nullptr};
inline PyMethodDef def_fastcall_keywords{"t_fastcall_keywords", as_entry(entry_fastcall_keywords),
                                         METH_FASTCALL | METH_KEYWORDS, nullptr};
inline PyMethodDef def_method{"t_method", as_entry(entry_method),
                              METH_METHOD | METH_FASTCALL | METH_KEYWORDS, nullptr};

// Fills runtime::state as the exec step of a linking module does (once per
// process) and resets what the entries recorded.
class FunctionTest : public ::testing::Test {
protected:
    static void fill_state()
    {
        auto& rt = runtime::state;
        if (rt.function_type) {
            return;
        }
        rt.module_dict = PyDict_New();
        rt.builtins_module = Py_NewRef(PyImport_AddModule("builtins"));
        rt.empty_tuple = PyTuple_New(0);
        rt.is_coroutine_name = PyUnicode_InternFromString("_is_coroutine");
        rt.asyncio_coroutines_name = PyUnicode_InternFromString("asyncio.coroutines");
        ASSERT_NE(rt.module_dict, nullptr);
        ASSERT_NE(rt.empty_tuple, nullptr);
        ASSERT_NE(rt.is_coroutine_name, nullptr);
        ASSERT_NE(rt.asyncio_coroutines_name, nullptr);
        auto bases = Owned<>::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyType_Type)));
        ASSERT_TRUE(bases);
        metatype = runtime::fetch_shared_type(nullptr, &runtime::common_metatype_spec, bases.get())
                       .release();
        ASSERT_NE(metatype, nullptr);
        rt.function_type = reinterpret_cast<PyTypeObject*>(
            runtime::fetch_shared_type(reinterpret_cast<PyTypeObject*>(metatype),
                                       &runtime::function_type_spec, nullptr)
                .release());
        ASSERT_NE(rt.function_type, nullptr);
    }

    void SetUp() override
    {
        fill_state();
        received = Received{};
        ASSERT_FALSE(PyErr_Occurred());
    }

    void TearDown() override
    {
        // A test leaves no exception behind.
        EXPECT_FALSE(PyErr_Occurred());
        PyErr_Clear();
    }

    // A new function object; the qualified name defaults to ml_name and the
    // module to "tests.module".
    static Owned<> make(PyMethodDef* def, const char* qualname = nullptr)
    {
        Owned<> qn = Owned<>::steal(PyUnicode_FromString(qualname ? qualname : def->ml_name));
        Owned<> module = Owned<>::steal(PyUnicode_FromString("tests.module"));
        if (!qn || !module) {
            return {};
        }
        return runtime::native_function_new(def, qn.get(), module.get(),
                                            runtime::state.module_dict, nullptr);
    }

    static inline PyObject* metatype = nullptr;
};

// Runs `source` with the given names bound in a fresh namespace.
using test_support::run_python;

// The value bound to `name` in a namespace that run_python returned (borrowed).
inline PyObject* get(const Owned<>& ns, const char* name)
{
    return ns ? PyDict_GetItemString(ns.get(), name) : nullptr;
}

inline std::string str_of(PyObject* o)
{
    Owned<> s = Owned<>::steal(PyObject_Str(o));
    return s ? test_support::utf8(s.get()) : std::string("<str failed>");
}

} // namespace function_test
