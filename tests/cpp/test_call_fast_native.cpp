// call_fast on function objects of the shared type: the no-argument and
// one-argument entries are called directly, bypassing the vectorcall
// checks; other conventions go through the object's own vectorcall field.
#include <Python.h>
#include <gtest/gtest.h>

#include "fast_calls.hpp"
#include "function_test_support.hpp"

namespace {

using namespace function_test;

class CallFastNative : public FunctionTest {};

TEST_F(CallFastNative, NoArgumentsGoesStraightToTheEntryWithANullArgument)
{
    auto f = make(&def_noargs);
    ASSERT_TRUE(f);
    // Make the vectorcall entry unreachable: the direct path must not use it.
    auto* record = as_native_function(f.get());
    const vectorcallfunc saved = record->base.func.vectorcall;
    record->base.func.vectorcall = nullptr;
    PyObject* slot[1] = {nullptr};
    auto result = runtime::call_fast(f.get(), slot + 1, PY_VECTORCALL_ARGUMENTS_OFFSET);
    record->base.func.vectorcall = saved;
    ASSERT_TRUE(result);
    EXPECT_EQ(received.calls, 1);
    EXPECT_STREQ(received.entry, "noargs");
    EXPECT_EQ(received.self, f.get());  // m_self is the function object
    EXPECT_EQ(received.arg, nullptr);
}

TEST_F(CallFastNative, OneArgumentGoesStraightToTheEntry)
{
    auto f = make(&def_o);
    ASSERT_TRUE(f);
    PyObject* args[] = {Py_True};
    auto result = runtime::call_fast(f.get(), args, 1);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.get(), Py_True);
    EXPECT_STREQ(received.entry, "o");
    EXPECT_EQ(received.arg, Py_True);
}

TEST_F(CallFastNative, WrongCountFallsBackToTheVectorcallChecks)
{
    auto f = make(&def_noargs);
    ASSERT_TRUE(f);
    PyObject* args[] = {Py_None};
    EXPECT_EQ(runtime::call_fast(f.get(), args, 1), nullptr);
    auto raised = test_support::take_exception();
    EXPECT_EQ(raised.message, "t_noargs() takes no arguments (1 given)");
    EXPECT_EQ(received.calls, 0);
}

TEST_F(CallFastNative, FastcallUsesTheRecordsVectorcallFieldWithTheOffsetFlag)
{
    auto f = make(&def_fastcall_keywords);
    ASSERT_TRUE(f);
    PyObject* slot_and_args[] = {nullptr, Py_None, Py_True};
    auto result =
        runtime::call_fast(f.get(), slot_and_args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET);
    ASSERT_TRUE(result);
    EXPECT_EQ(PyLong_AsLong(result.get()), 2);
    EXPECT_EQ(received.args, slot_and_args + 1);  // the caller's array, not a copy
    EXPECT_EQ(received.kwnames, nullptr);
}

TEST_F(CallFastNative, BoundMethodOfAFunctionObjectIsUnbound)
{
    auto f = make(&def_o);
    ASSERT_TRUE(f);
    auto method = Owned<>::steal(PyMethod_New(f.get(), Py_False));
    ASSERT_TRUE(method);
    PyObject* args[] = {nullptr};
    auto result = runtime::call_unbinding(method.get(), args, 0);
    ASSERT_TRUE(result);
    EXPECT_EQ(received.arg, Py_False);  // self became the one argument
}

} // namespace
