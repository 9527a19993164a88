// Calls through the fast paths: native entries of built-in functions,
// vectorcall entries, the tuple call, and the reserved-slot convention.
#include <Python.h>
#include <gtest/gtest.h>

#include "fast_calls.hpp"
#include "python_test_support.hpp"
#include "runtime_state_fixture.hpp"

namespace {

using runtime::Owned;
using runtime::state;
using test_support::take_exception;
using test_support::utf8;

class Calls : public test_support::RuntimeStateTest {};

// Native entries that misbehave or report how they were called.
PyObject* null_without_error(PyObject*, PyObject*) { return nullptr; }

PyObject* self_or_none(PyObject* self, PyObject*) { return Py_NewRef(self ? self : Py_None); }

PyObject* null_call(PyObject*, PyObject*, PyObject*) { return nullptr; }

PyObject* null_without_error_fast(PyObject*, PyObject* const*, Py_ssize_t) { return nullptr; }

PyMethodDef null_def = {"null_without_error", null_without_error, METH_NOARGS, nullptr};
PyMethodDef null_fast_def = {"null_without_error_fast",
                             reinterpret_cast<PyCFunction>(
                                 reinterpret_cast<void (*)()>(null_without_error_fast)),
                             METH_FASTCALL, nullptr};
PyMethodDef static_def = {"static_o", self_or_none, METH_O | METH_STATIC, nullptr};
PyMethodDef bound_def = {"bound_o", self_or_none, METH_O, nullptr};

PyType_Slot null_call_slots[] = {{Py_tp_call, reinterpret_cast<void*>(null_call)}, {0, nullptr}};
PyType_Spec null_call_spec = {"kestrune_test.NullCall", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT,
                              null_call_slots};

// Takes the C recursion budget down to nothing, and gives it back.
class RecursionExhausted {
public:
    RecursionExhausted()
    {
        while (Py_EnterRecursiveCall("") == 0) {
            ++depth_;
        }
        PyErr_Clear();
    }
    ~RecursionExhausted()
    {
        for (int i = 0; i < depth_; ++i) {
            Py_LeaveRecursiveCall();
        }
    }

private:
    int depth_ = 0;
};

TEST_F(Calls, BuiltinFunctionsWithNoOrOneArgument)
{
    ASSERT_TRUE(exec("import gc\n"
                     "items = [1, 2, 3]\n"
                     "append = items.append\n"));
    auto enabled = runtime::call_fast(eval("gc.isenabled").get(), nullptr, 0);
    ASSERT_TRUE(enabled);
    EXPECT_EQ(enabled.get(), Py_True);

    PyObject* args[] = {global("items")};
    auto length = runtime::call_fast(eval("len").get(), args, 1);
    ASSERT_TRUE(length);
    EXPECT_EQ(PyLong_AsLong(length.get()), 3);

    // A built-in method carries its self in m_self.
    auto four = Owned<>::steal(PyLong_FromLong(4));
    PyObject* append_args[] = {four.get()};
    auto none = runtime::call_fast(global("append"), append_args, 1);
    ASSERT_TRUE(none);
    EXPECT_EQ(PyList_GET_SIZE(global("items")), 4);

    // Any other count goes through the function's vectorcall entry.
    auto key = Owned<>::steal(PyUnicode_FromString("append"));
    PyObject* getattr_args[] = {global("items"), key.get()};
    auto method = runtime::call_fast(eval("getattr").get(), getattr_args, 2);
    ASSERT_TRUE(method);
    EXPECT_TRUE(PyCFunction_Check(method.get()));
}

TEST_F(Calls, PythonFunctionsClassesAndCallableObjects)
{
    ASSERT_TRUE(exec("def collect(*args): return args\n"
                     "class Made:\n"
                     "    def __init__(self, *args): self.args = args\n"
                     "class Callable:\n"
                     "    def __call__(self, *args): return ('called',) + args\n"
                     "callable_object = Callable()\n"));
    auto one = Owned<>::steal(PyLong_FromLong(1));
    auto two = Owned<>::steal(PyLong_FromLong(2));
    PyObject* args[] = {one.get(), two.get()};

    auto collected = runtime::call_fast(global("collect"), args, 2);
    ASSERT_TRUE(collected);
    EXPECT_EQ(PyObject_RichCompareBool(collected.get(), eval("(1, 2)").get(), Py_EQ), 1);

    auto made = runtime::call_fast(global("Made"), nullptr, 0);
    ASSERT_TRUE(made);
    EXPECT_EQ(Py_TYPE(made.get()), reinterpret_cast<PyTypeObject*>(global("Made")));

    // Without a vectorcall entry: no arguments use the shared empty tuple,
    // others the generic vectorcall.
    auto bare = runtime::call_fast(global("callable_object"), nullptr, 0);
    ASSERT_TRUE(bare);
    EXPECT_EQ(PyObject_RichCompareBool(bare.get(), eval("('called',)").get(), Py_EQ), 1);
    auto with_args = runtime::call_fast(global("callable_object"), args, 2);
    ASSERT_TRUE(with_args);
    EXPECT_EQ(PyObject_RichCompareBool(with_args.get(), eval("('called', 1, 2)").get(), Py_EQ), 1);
}

TEST_F(Calls, BoundMethodIsUnboundIntoTheReservedSlot)
{
    ASSERT_TRUE(exec("class Reader:\n"
                     "    def read(self, *args): return (self, args)\n"
                     "reader = Reader()\n"
                     "bound = reader.read\n"
                     "def plain(*args): return args\n"));
    auto word = Owned<>::steal(PyUnicode_FromString("get"));
    PyObject* slots[] = {nullptr, word.get()};
    auto result = runtime::call_unbinding(global("bound"), slots, 1);
    ASSERT_TRUE(result);
    EXPECT_EQ(PyTuple_GET_ITEM(result.get(), 0), global("reader"));
    PyObject* passed = PyTuple_GET_ITEM(result.get(), 1);
    ASSERT_EQ(PyTuple_GET_SIZE(passed), 1);
    EXPECT_EQ(PyTuple_GET_ITEM(passed, 0), word.get());
    EXPECT_EQ(slots[0], global("reader"));

    // Anything else is called with the arguments after the slot.
    slots[0] = Py_None;
    result = runtime::call_unbinding(global("plain"), slots, 1);
    ASSERT_TRUE(result);
    ASSERT_EQ(PyTuple_GET_SIZE(result.get()), 1);
    EXPECT_EQ(PyTuple_GET_ITEM(result.get(), 0), word.get());
    EXPECT_EQ(slots[0], nullptr);

    // A built-in with one argument still reaches its native entry.
    result = runtime::call_unbinding(eval("len").get(), slots, 1);
    ASSERT_TRUE(result);
    EXPECT_EQ(PyLong_AsLong(result.get()), 3);
}

TEST_F(Calls, TupleCallPassesArgumentsAndKeywords)
{
    ASSERT_TRUE(exec("def get(key, default=None, *, tag=''): return (key, default, tag)\n"
                     "args = ('host', '')\n"
                     "kwargs = {'tag': 't'}\n"));
    auto result = runtime::call_object(global("get"), global("args"), global("kwargs"));
    ASSERT_TRUE(result);
    EXPECT_EQ(PyObject_RichCompareBool(result.get(), eval("('host', '', 't')").get(), Py_EQ), 1);

    auto number = Owned<>::steal(PyLong_FromLong(5));
    EXPECT_EQ(runtime::call_object(number.get(), state.empty_tuple, nullptr), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "TypeError");
    EXPECT_EQ(raised.message, "'int' object is not callable");
    EXPECT_EQ(runtime::call_fast(number.get(), nullptr, 0), nullptr);
    EXPECT_EQ(take_exception().message, "'int' object is not callable");
}

TEST_F(Calls, NullResultWithoutAnErrorBecomesSystemError)
{
    auto function = Owned<>::steal(PyCFunction_New(&null_def, nullptr));
    ASSERT_TRUE(function);
    EXPECT_EQ(runtime::call_fast(function.get(), nullptr, 0), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "SystemError");
    EXPECT_EQ(raised.message, "NULL result without error in PyObject_Call");

    // Through the callee's vectorcall entry.
    auto fast = Owned<>::steal(PyCFunction_New(&null_fast_def, nullptr));
    ASSERT_TRUE(fast);
    EXPECT_EQ(runtime::call_fast(fast.get(), nullptr, 0), nullptr);
    raised = take_exception();
    EXPECT_EQ(raised.type, "SystemError");
    EXPECT_EQ(raised.message, "NULL result without error in PyObject_Call");

    auto type = Owned<>::steal(PyType_FromSpec(&null_call_spec));
    ASSERT_TRUE(type);
    auto instance = Owned<>::steal(PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(type.get()), 0));
    ASSERT_TRUE(instance);
    EXPECT_EQ(runtime::call_object(instance.get(), state.empty_tuple, nullptr), nullptr);
    raised = take_exception();
    EXPECT_EQ(raised.type, "SystemError");
    EXPECT_EQ(raised.message, "NULL result without error in PyObject_Call");
}

TEST_F(Calls, NativeEntryGetsNoSelfWhenStatic)
{
    auto marker = Owned<>::steal(PyUnicode_FromString("self"));
    auto bound = Owned<>::steal(PyCFunction_New(&bound_def, marker.get()));
    auto unbound = Owned<>::steal(PyCFunction_New(&static_def, marker.get()));
    ASSERT_TRUE(bound && unbound);
    PyObject* args[] = {Py_True};
    auto result = runtime::call_fast(bound.get(), args, 1);
    EXPECT_EQ(result.get(), marker.get());
    result = runtime::call_c_entry(unbound.get(), Py_True);
    EXPECT_EQ(result.get(), Py_None);
}

TEST_F(Calls, RecursionLimitStopsTheCallBeforeTheCallee)
{
    ASSERT_TRUE(exec("import functools\n"
                     "calls = []\n"
                     "class Counted:\n"
                     "    def __call__(self, *args): calls.append(args)\n"
                     "counted = Counted()\n"
                     "wrapped = functools.partial(counted)\n"));
    PyObject* args[] = {Py_None};
    auto len = eval("len");
    ASSERT_TRUE(len);
    // The exceptions are read once the budget is back: making their text
    // needs it too.
    Owned<> from_call_object;
    Owned<> from_native_entry;
    Owned<> from_vectorcall;
    {
        RecursionExhausted exhausted;
        EXPECT_EQ(runtime::call_object(global("counted"), state.empty_tuple, nullptr), nullptr);
        from_call_object = Owned<>::steal(PyErr_GetRaisedException());
        EXPECT_EQ(runtime::call_fast(len.get(), args, 1), nullptr);
        from_native_entry = Owned<>::steal(PyErr_GetRaisedException());
        // A wrapper's vectorcall entry calls on without a guard of its own.
        EXPECT_EQ(runtime::call_fast(global("wrapped"), args, 1), nullptr);
        from_vectorcall = Owned<>::steal(PyErr_GetRaisedException());
    }
    for (PyObject* exc : {from_call_object.get(), from_native_entry.get(), from_vectorcall.get()}) {
        ASSERT_NE(exc, nullptr);
        PyErr_SetRaisedException(Py_NewRef(exc));
        auto raised = take_exception();
        EXPECT_EQ(raised.type, "RecursionError");
        EXPECT_EQ(raised.message, "maximum recursion depth exceeded while calling a Python object");
    }
    EXPECT_EQ(PyList_GET_SIZE(global("calls")), 0);
    // With the budget back, the same calls go through.
    auto none = runtime::call_object(global("counted"), state.empty_tuple, nullptr);
    EXPECT_EQ(none.get(), Py_None);
    EXPECT_EQ(PyList_GET_SIZE(global("calls")), 1);
}

} // namespace
